# Sourced by the benchmark scripts. start_nginx WORK: nginx serving WORK/www on a free
# loopback port, its configuration, pid, temporary and log files in WORK, one process in
# the background of this script; sets $port and $nginx_pid and waits (bounded) until
# the port answers. stop_nginx: ends it.
start_nginx() {
    local work=$1 nginx user_line=
    nginx=$(command -v nginx || ls /usr/sbin/nginx 2>/dev/null || true)
    [[ -n $nginx ]] || { echo "nginx is needed (scripts/setup installs nginx-light)" >&2; exit 2; }
    # A free loopback port: the system picks one, nginx takes it a moment later.
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    [[ $(id -u) -eq 0 ]] && user_line="user root;"
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
  server { listen 127.0.0.1:$port; root $work/www; }
}
CONF
    "$nginx" -p "$work" -c "$work/nginx.conf" -e "$work/error.log" &
    nginx_pid=$!
    local i
    for ((i = 0; i < 100; i++)); do
        curl -s -o /dev/null "http://127.0.0.1:$port/" && break
        sleep 0.1
    done
}

stop_nginx() {
    [[ -n ${nginx_pid:-} ]] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    nginx_pid=
}
