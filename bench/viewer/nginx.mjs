// A static nginx on 127.0.0.1 for the viewer benchmarks: serves one folder as a web server
// would serve published books (gzip for the page, scripts and styles), records each
// request in an access log of its own, and writes nothing outside its own folder.
import { spawn } from 'node:child_process';
import { mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:net';
import { userInfo } from 'node:os';
import { join } from 'node:path';

const NGINX = '/usr/sbin/nginx';

function freePort() {
  return new Promise((ok, fail) => {
    const probe = createServer().once('error', fail).listen(0, '127.0.0.1', () => {
      const { port } = probe.address();
      probe.close(() => ok(port));
    });
  });
}

export async function startNginx(root, folder) {
  mkdirSync(join(folder, 'temp'), { recursive: true });
  const port = await freePort();
  // Run as root, nginx hands its workers to "nobody", who cannot read private folders.
  const user = process.getuid && process.getuid() === 0 ? `user ${userInfo().username} root;\n` : '';
  const t = (name) => join(folder, 'temp', name);
  writeFileSync(join(folder, 'nginx.conf'), `${user}daemon off;
worker_processes 1;
pid ${folder}/nginx.pid;
error_log ${folder}/error.log;
events { worker_connections 256; }
http {
  include /etc/nginx/mime.types;
  types { text/javascript js; }
  default_type application/octet-stream;
  sendfile on;
  log_format paths '$uri $status $body_bytes_sent';
  access_log ${folder}/access.log paths;
  gzip on;
  gzip_types text/javascript application/javascript text/css application/json image/svg+xml;
  client_body_temp_path ${t('body')}; proxy_temp_path ${t('proxy')}; fastcgi_temp_path ${t('fastcgi')};
  uwsgi_temp_path ${t('uwsgi')}; scgi_temp_path ${t('scgi')};
  server {
    listen 127.0.0.1:${port};
    root ${root};
    add_header Cache-Control no-cache;
  }
}
`);
  const child = spawn(NGINX, ['-p', `${folder}/`, '-c', join(folder, 'nginx.conf')], { stdio: 'ignore' });
  const url = `http://127.0.0.1:${port}/`;
  for (let i = 0; i < 100; i++) {
    try { if ((await fetch(url)).status) break; } catch { await new Promise((ok) => setTimeout(ok, 50)); }
  }
  return {
    url,
    // The requests answered so far: [{path, status, bytes}].
    log: () => {
      let text = '';
      try { text = readFileSync(join(folder, 'access.log'), 'utf8'); } catch { /* none yet */ }
      return text.split('\n').filter(Boolean).map((l) => { const [path, status, bytes] = l.split(' '); return { path, status: +status, bytes: +bytes }; });
    },
    close: () => new Promise((ok) => { child.once('exit', ok); child.kill('SIGTERM'); }),
  };
}
