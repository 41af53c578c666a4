// Runs the real vellumark-service on 127.0.0.1 (a free port, a private data folder) for the
// viewer tests, and creates an account on it as a user does through its account page.
import { spawn } from 'node:child_process';
import { existsSync } from 'node:fs';
import { join } from 'node:path';

export function serviceProgram(programDir) { return join(programDir, 'vellumark-service'); }
export function haveService(programDir) { return existsSync(serviceProgram(programDir)); }

export async function startService(programDir, dataDir, { waitMs = 15000 } = {}) {
  const child = spawn(serviceProgram(programDir), ['--data', dataDir, '--listen', '127.0.0.1', '--port', '0'],
    { stdio: ['ignore', 'pipe', 'inherit'] });
  const url = await new Promise((resolve, reject) => {
    let text = '';
    const timer = setTimeout(() => reject(new Error('vellumark-service did not start')), waitMs);
    child.stdout.on('data', (chunk) => {
      text += chunk;
      const match = text.match(/listening on (http:\/\/[^\s]+)/);
      if (match) { clearTimeout(timer); resolve(match[1]); }
    });
    child.on('exit', (code) => { clearTimeout(timer); reject(new Error(`vellumark-service ended with ${code}`)); });
  });
  child.stdout.resume();
  return {
    url,  // "http://127.0.0.1:PORT/"
    host: new URL(url).host,
    async createAccount(email, password) {
      const res = await fetch(new URL('createPubAccount.asp', url), {
        method: 'POST', headers: { 'content-type': 'application/x-www-form-urlencoded' },
        body: new URLSearchParams({ email, password }).toString(),
      });
      if (res.status !== 200) throw new Error(`account not created: ${res.status}`);
    },
    close() { child.kill('SIGTERM'); },
  };
}
