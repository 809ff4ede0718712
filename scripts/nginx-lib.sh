# Sourced by the demo and the benchmarks: a private nginx on 127.0.0.1 with its own prefix,
# never the system's configuration.
#
# start_nginx PREFIX ROOT [ACCESS_LOG] [EXTRA_HTTP_DIRECTIVES]
#   serves ROOT on a free port; ACCESS_LOG is a path or "off" (default PREFIX/access.log).
#   Sets nginx_port and nginx_pid.
# stop_nginx
#   SIGQUIT to the master, then waits for it.

nginx_pid=
nginx_port=

start_nginx() {
    local prefix=$1 root=$2 access=${3:-$1/access.log} extra=${4:-} user=
    # Run as root, the workers may serve files in private temporary folders too.
    [ "$(id -u)" = 0 ] && user="user root root;"
    nginx_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    mkdir -p "$prefix/tmp" "$root"
    cat >"$prefix/nginx.conf" <<CONF
daemon off;
worker_processes 1;
$user
pid $prefix/nginx.pid;
error_log $prefix/error.log warn;
events { worker_connections 64; }
http {
    access_log $access;
    client_body_temp_path $prefix/tmp/body;
    proxy_temp_path $prefix/tmp/proxy;
    fastcgi_temp_path $prefix/tmp/fastcgi;
    uwsgi_temp_path $prefix/tmp/uwsgi;
    scgi_temp_path $prefix/tmp/scgi;
    default_type application/octet-stream;
    sendfile on;
    $extra
    server { listen 127.0.0.1:$nginx_port; root $root; }
}
CONF
    nginx -p "$prefix" -c "$prefix/nginx.conf" -e "$prefix/error.log" &
    nginx_pid=$!
    for _ in $(seq 50); do
        curl -s -o /dev/null "http://127.0.0.1:$nginx_port/" && return 0
        sleep 0.1
    done
    echo "nginx did not start; see $prefix/error.log" >&2
    return 1
}

stop_nginx() {
    if [ -n "$nginx_pid" ]; then
        kill -QUIT "$nginx_pid" 2>/dev/null || true
        wait "$nginx_pid" 2>/dev/null || true
        nginx_pid=
    fi
}
