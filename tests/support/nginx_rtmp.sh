# An nginx-rtmp server on 127.0.0.1 for tests that drive the real OBS program. Sourced, not run.
#
# nginx_rtmp_start DIR LOG_FORMAT starts it with its files in DIR and sets nginx_pid, rtmp_port
# and http_port. Every publish the server lets in is written to DIR/publishes.log in LOG_FORMAT
# (nginx variables, for example '$arg_name'); http://127.0.0.1:$http_port/stat tells what each
# stream receives. Tests run side by side, so a free port can be
# taken between picking it and binding it: then new ports are picked and nginx starts again.

nginx_pid=

nginx_rtmp_free_port() {
    /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

nginx_rtmp_write_conf() {
    local dir=$1 log_format=$2
    cat >"$dir/nginx.conf" <<CONF
load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;
daemon off;
master_process off;
worker_processes 1;
error_log $dir/error.log info;
pid $dir/nginx.pid;
events { worker_connections 256; }
rtmp {
  server {
    listen 127.0.0.1:$rtmp_port;
    application live {
      live on;
      record off;
      notify_method get;
      on_publish http://127.0.0.1:$http_port/on_publish;
    }
  }
}
http {
  access_log off;
  log_format publishes '$log_format';
  client_body_temp_path $dir/client_body;
  proxy_temp_path $dir/proxy;
  fastcgi_temp_path $dir/fastcgi;
  uwsgi_temp_path $dir/uwsgi;
  scgi_temp_path $dir/scgi;
  server {
    listen 127.0.0.1:$http_port;
    location /on_publish { access_log $dir/publishes.log publishes; return 204; }
    # What the server receives, per stream: rtmp_stat's XML (bytes_in, bw_video, the clients).
    location /stat { rtmp_stat all; }
  }
}
CONF
}

# True when nginx itself listens on both ports: a connection alone could reach whoever took a
# port first.
nginx_rtmp_listening() {
    /usr/bin/python3 - "$nginx_pid" "$rtmp_port" "$http_port" <<'PY'
import os, sys
pid, ports = sys.argv[1], {int(port) for port in sys.argv[2:]}
try:
    mine = {os.readlink(f"/proc/{pid}/fd/{fd}") for fd in os.listdir(f"/proc/{pid}/fd")}
except OSError:
    sys.exit(1)
listening = set()
with open("/proc/net/tcp") as table:
    for line in list(table)[1:]:
        fields = line.split()
        port = int(fields[1].split(":")[1], 16)
        if fields[3] == "0A" and port in ports and f"socket:[{fields[9]}]" in mine:
            listening.add(port)
sys.exit(0 if listening == ports else 1)
PY
}

nginx_rtmp_start() {
    local dir=$1 log_format=$2 attempt
    mkdir -p "$dir"
    for attempt in 1 2 3 4 5; do
        rtmp_port=$(nginx_rtmp_free_port)
        http_port=$(nginx_rtmp_free_port)
        nginx_rtmp_write_conf "$dir" "$log_format"
        nginx -p "$dir/" -e "$dir/error.log" -c "$dir/nginx.conf" >>"$dir/out.log" 2>&1 &
        nginx_pid=$!
        # nginx gives up on a taken port after about 2.5 s of retries and exits.
        for _ in $(seq 1 100); do
            nginx_rtmp_listening && return 0
            kill -0 "$nginx_pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$nginx_pid" 2>/dev/null
        wait "$nginx_pid" 2>/dev/null
        nginx_pid=
        echo "nginx did not listen on 127.0.0.1:$rtmp_port and :$http_port (attempt $attempt)"
    done
    return 1
}
