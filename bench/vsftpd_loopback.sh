# Sourced by the benchmark scripts. start_vsftpd WORK: vsftpd on a free loopback port
# with one virtual account "bench" (password in $ftp_password) whose login directory is
# WORK/root, its configuration, accounts and PAM service file of its own (removed by
# stop_vsftpd), one process in the background of this script; sets $ftp_port and
# $vsftpd_pid and waits (bounded) until the server answers. Needs root.
# start_vsftpd WORK tls: the same server requiring explicit TLS for logins and data, and
# session reuse on data connections, with a throw-away certificate for "localhost"
# (WORK/cert.pem, which the clients take as their CA); $ftp_host is the name to use.
# FTP_ACCOUNTS=N adds the accounts bench2 .. benchN (same password) with the login
# directories WORK/root2 .. WORK/rootN; VSFTPD_EXTRA holds more lines of its
# configuration (local_max_rate=4000000).
start_vsftpd() {
    local work=$1 vsftpd i tls_conf= curl_tls=()
    vsftpd=$(command -v vsftpd || ls /usr/sbin/vsftpd 2>/dev/null || true)
    [[ -n $vsftpd ]] || { echo "vsftpd is needed (scripts/setup installs it)" >&2; exit 2; }
    [[ -e /lib/x86_64-linux-gnu/security/pam_pwdfile.so ]] || { echo "libpam-pwdfile is needed (scripts/setup)" >&2; exit 2; }
    [[ $(id -u) -eq 0 ]] || { echo "vsftpd needs root" >&2; exit 2; }
    mkdir -p "$work/root" "$work/users" "$work/empty"
    ftp_pam=parcelwick-bench-$$
    ftp_password=bench-$$
    echo "bench:$(python3 -c 'import crypt,sys; print(crypt.crypt(sys.argv[1], crypt.mksalt(crypt.METHOD_SHA512)))' "$ftp_password" 2>/dev/null)" >"$work/passwd"
    printf 'auth required pam_pwdfile.so nodelay pwdfile=%s/passwd\naccount required pam_permit.so\n' "$work" >"/etc/pam.d/$ftp_pam"
    echo "local_root=$work/root" >"$work/users/bench"
    local n hash
    for ((n = 2; n <= ${FTP_ACCOUNTS:-1}; n++)); do
        mkdir -p "$work/root$n"
        hash=$(python3 -c 'import crypt,sys; print(crypt.crypt(sys.argv[1], crypt.mksalt(crypt.METHOD_SHA512)))' "$ftp_password" 2>/dev/null)
        echo "bench$n:$hash" >>"$work/passwd"
        echo "local_root=$work/root$n" >"$work/users/bench$n"
    done
    ftp_host=127.0.0.1
    if [[ ${2:-} == tls ]]; then
        openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$work/key.pem" \
            -out "$work/cert.pem" -subj /CN=localhost -addext subjectAltName=DNS:localhost -days 2 2>/dev/null
        tls_conf="ssl_enable=YES
rsa_cert_file=$work/cert.pem
rsa_private_key_file=$work/key.pem
ssl_ciphers=HIGH
force_local_logins_ssl=YES
force_local_data_ssl=YES
require_ssl_reuse=YES
strict_ssl_read_eof=YES"
        ftp_host=localhost
        curl_tls=(--ssl-reqd --cacert "$work/cert.pem")
    fi
    ftp_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    cat >"$work/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
background=NO
listen_address=127.0.0.1
listen_port=$ftp_port
anonymous_enable=NO
local_enable=YES
write_enable=YES
guest_enable=YES
guest_username=$(id -un)
virtual_use_local_privs=YES
user_config_dir=$work/users
pam_service_name=$ftp_pam
secure_chroot_dir=$work/empty
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
pasv_enable=YES
pasv_address=127.0.0.1
port_enable=YES
xferlog_enable=NO
$tls_conf
${VSFTPD_EXTRA:-}
CONF
    "$vsftpd" "$work/vsftpd.conf" &
    vsftpd_pid=$!
    for ((i = 0; i < 100; i++)); do
        curl -s -o /dev/null "${curl_tls[@]}" "ftp://bench:$ftp_password@$ftp_host:$ftp_port/" && break
        sleep 0.1
    done
}

stop_vsftpd() {
    [[ -n ${vsftpd_pid:-} ]] && kill "$vsftpd_pid" 2>/dev/null && wait "$vsftpd_pid" 2>/dev/null || true
    vsftpd_pid=
    [[ -n ${ftp_pam:-} ]] && rm -f "/etc/pam.d/$ftp_pam"
    return 0
}
