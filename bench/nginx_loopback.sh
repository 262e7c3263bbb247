# Sourced by the benchmark scripts. start_nginx WORK [CERT KEY]: nginx serving WORK/www on
# a free loopback port, its configuration, pid, temporary and log files in WORK, one
# process in the background of this script; sets $port and $nginx_pid and waits
# (bounded) until the port answers. Given a certificate and its key (PEM), it also
# serves HTTPS on $tls_port: TLS 1.3 with TLS_AES_256_GCM_SHA384 alone, so that every
# client measured speaks the same cipher. With NGINX_IPV6=1 the plain server listens on
# [::1] instead of 127.0.0.1. With NGINX_LIMIT_RATE=4m each connection of the plain
# server sends at most that fast (nginx's limit_rate), as a hosting account caps it.
# $url_host is the host as URLs write it ("127.0.0.1", "[::1]"). stop_nginx: ends it.
start_nginx() {
    local work=$1 cert=${2:-} key=${3:-} nginx user_line= tls_server= family=AF_INET address=127.0.0.1
    nginx=$(command -v nginx || ls /usr/sbin/nginx 2>/dev/null || true)
    [[ -n $nginx ]] || { echo "nginx is needed (scripts/setup installs nginx-light)" >&2; exit 2; }
    url_host=127.0.0.1
    if [[ ${NGINX_IPV6:-0} == 1 ]]; then
        family=AF_INET6 address=::1 url_host='[::1]'
    fi
    # A free loopback port: the system picks one, nginx takes it a moment later.
    port=$(python3 -c "import socket; s=socket.socket(socket.$family); s.bind(('$address', 0)); print(s.getsockname()[1])")
    [[ $(id -u) -eq 0 ]] && user_line="user root;"
    if [[ -n $cert ]]; then
        tls_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
        tls_server="server { listen 127.0.0.1:$tls_port ssl; ssl_certificate $cert; ssl_certificate_key $key;
    ssl_protocols TLSv1.3; ssl_conf_command Ciphersuites TLS_AES_256_GCM_SHA384; root $work/www; }"
    fi
    cat >"$work/nginx.conf" <<CONF
daemon off;
master_process off;
$user_line
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log warn;
events { worker_connections 256; }
http {
  access_log off;
  client_body_temp_path $work/body;
  proxy_temp_path $work/proxy;
  fastcgi_temp_path $work/fastcgi;
  uwsgi_temp_path $work/uwsgi;
  scgi_temp_path $work/scgi;
  default_type application/octet-stream;
  sendfile on;
  server { listen $url_host:$port; root $work/www; ${NGINX_LIMIT_RATE:+limit_rate $NGINX_LIMIT_RATE;} }
  $tls_server
}
CONF
    "$nginx" -p "$work" -c "$work/nginx.conf" -e "$work/error.log" &
    nginx_pid=$!
    local i
    for ((i = 0; i < 100; i++)); do
        curl -g -s -o /dev/null "http://$url_host:$port/" && break
        sleep 0.1
    done
}

stop_nginx() {
    # wait gives the killed server's status: not a failure of the script (set -e).
    [[ -n ${nginx_pid:-} ]] && kill "$nginx_pid" 2>/dev/null && { wait "$nginx_pid" 2>/dev/null || true; }
    nginx_pid=
}
