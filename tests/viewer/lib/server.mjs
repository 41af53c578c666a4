// A small static web server on 127.0.0.1 for the viewer tests: serves one folder, refuses
// paths outside it and records every request it answers.
import { createServer } from 'node:http';
import { createReadStream, statSync } from 'node:fs';
import { extname, join, normalize, sep } from 'node:path';

const TYPES = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8', '.css': 'text/css; charset=utf-8',
  '.jpg': 'image/jpeg', '.png': 'image/png', '.svg': 'image/svg+xml', '.asp': 'text/html; charset=utf-8',
  '.xml': 'application/xml', '.json': 'application/json',
};

export async function startServer(root) {
  const log = [];
  const server = createServer((req, res) => {
    let path;
    try { path = decodeURIComponent(new URL(req.url, 'http://x').pathname); } catch { path = null; }
    const file = path === null ? null : normalize(join(root, path));
    if (!file || (file !== root && !file.startsWith(root.endsWith(sep) ? root : root + sep))) {
      res.writeHead(400).end();
      return;
    }
    let target = file;
    try { if (statSync(target).isDirectory()) target = join(target, 'index.html'); statSync(target); } catch {
      log.push({ path, status: 404 });
      res.writeHead(404, { 'content-type': 'text/plain' }).end('not found');
      return;
    }
    log.push({ path, status: 200 });
    res.writeHead(200, { 'content-type': TYPES[extname(target).toLowerCase()] || 'application/octet-stream', 'cache-control': 'no-cache' });
    createReadStream(target).pipe(res);
  });
  await new Promise((ok) => server.listen(0, '127.0.0.1', ok));
  const { port } = server.address();
  return {
    url: `http://127.0.0.1:${port}/`,
    log,
    close: () => new Promise((ok) => { server.closeAllConnections?.(); server.close(ok); }),
  };
}
