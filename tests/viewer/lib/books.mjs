// Makes books the way a user does: a PDF through vellumark-batch (the real engine and page
// generator) into the books folder of a private HOME.
import { spawnSync } from 'node:child_process';
import { existsSync, mkdirSync, readFileSync, readdirSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';

export function batchProgram(programDir) { return join(programDir, 'vellumark-batch'); }

// The programs a book needs; a list of what is missing (empty when all are there).
export function missingPrograms(programDir) {
  return ['vellumark-batch', 'rastrix'].filter((p) => !existsSync(join(programDir, p)));
}

export class BookMaker {
  constructor(programDir, home) {
    this.programDir = programDir;
    this.home = home;
    this.env = {
      PATH: process.env.PATH, LANG: 'C.UTF-8', HOME: home,
      XDG_DATA_HOME: join(home, '.local/share'), XDG_CONFIG_HOME: join(home, '.config'),
      XDG_DATA_DIRS: join(home, 'share'), XDG_RUNTIME_DIR: join(home, 'run'),
    };
    for (const d of [this.env.XDG_RUNTIME_DIR, join(home, 'Documents')]) mkdirSync(d, { recursive: true, mode: 0o700 });
  }

  get booksFolder() { return join(this.home, 'Documents', 'vAziruduues'); }
  get configFile() { return join(this.env.XDG_DATA_HOME, 'Corvane', 'Vellumark', 'config.ini'); }

  // The index.html of every book in the books folder.
  bookPages() {
    if (!existsSync(this.booksFolder)) return [];
    return readdirSync(this.booksFolder).filter((d) => /^[0-9A-F]{32}$/.test(d))
      .map((d) => join(this.booksFolder, d, 'index.html')).filter((p) => existsSync(p));
  }

  // Converts one PDF; returns the path of the book's index.html in the books folder (with
  // an export folder the batch prints the exported copy's page instead). Throws with the
  // batch's output when it fails.
  convert(pdf, { exportDir = null, title = null, timeoutMs = 600000 } = {}) {
    const before = this.bookPages();
    const args = ['--verbose'];
    if (title !== null) args.push('--title', title);
    if (exportDir) args.push('--export', exportDir);
    args.push(pdf);
    const run = spawnSync(batchProgram(this.programDir), args, { env: this.env, encoding: 'utf8', timeout: timeoutMs });
    const out = `${run.stdout || ''}${run.stderr || ''}`;
    if (run.status !== 0) throw new Error(`vellumark-batch ended with ${run.status ?? run.signal}:\n${out.slice(-3000)}`);
    const page = (run.stdout || '').split('\n').map((l) => l.trim()).filter((l) => l.endsWith('index.html')).pop();
    if (!page || !existsSync(page)) throw new Error(`vellumark-batch printed no book page:\n${out.slice(-3000)}`);
    if (!exportDir) return page;
    const made = this.bookPages().filter((p) => !before.includes(p));
    if (made.length !== 1) throw new Error(`one new book expected in ${this.booksFolder}, found ${made.length}`);
    return made[0];
  }

  // Resumes a job that ended early; returns its book page.
  resume(key, { timeoutMs = 3600000 } = {}) {
    const run = spawnSync(batchProgram(this.programDir), ['--resume', key], { env: this.env, encoding: 'utf8', timeout: timeoutMs });
    const page = join(this.booksFolder, key, 'index.html');
    if (run.status !== 0 || !existsSync(page)) {
      throw new Error(`vellumark-batch --resume ended with ${run.status ?? run.signal}:\n${`${run.stdout}${run.stderr}`.slice(-3000)}`);
    }
    return page;
  }

  // Publishes one PDF to the publishing service at `host` with the account `email`, as a
  // user of the batch command does; returns the address the book is read at.
  publish(pdf, { host, email, password, title = null, offerPdf = false, timeoutMs = 600000 }) {
    const save = spawnSync(batchProgram(this.programDir), ['--set-service-account', email, '--service-host', host],
      { env: this.env, encoding: 'utf8', input: `${password}\n` });
    if (save.status !== 0) throw new Error(`the account was not saved: ${save.stderr}`);
    // No pause between the chunks of a file: the tests have no network to spare.
    this.setConfig('network', { http_wait_after_upld_chunk: 1 });
    const args = ['--publish'];
    if (offerPdf) args.push('--offer-pdf');
    if (title !== null) args.push('--title', title);
    args.push(pdf);
    const run = spawnSync(batchProgram(this.programDir), args, { env: this.env, encoding: 'utf8', timeout: timeoutMs });
    const address = (run.stderr || '').match(/published at (\S+)/);
    if (run.status !== 0 || !address) throw new Error(`not published (${run.status ?? run.signal}):\n${(run.stderr || '').slice(-3000)}`);
    return address[1];
  }

  // The embed code vellumark-batch prints for a published book.
  embedCode(key) {
    const run = spawnSync(batchProgram(this.programDir), ['--embed-code', key], { env: this.env, encoding: 'utf8' });
    if (run.status !== 0) throw new Error(`no embed code (${run.status ?? run.signal}): ${run.stderr}`);
    return run.stdout;
  }

  // Sets keys of section [skin] of config.ini (exists after the first conversion).
  setSkin(values) { this.setConfig('skin', values); }

  // Sets keys of one section of config.ini.
  setConfig(section, values) {
    const lines = readFileSync(this.configFile, 'utf8').split(/\r?\n/);
    let start = lines.findIndex((l) => l.trim().toLowerCase() === `[${section}]`);
    if (start < 0) { lines.push(`[${section}]`); start = lines.length - 1; }
    let end = lines.findIndex((l, i) => i > start && /^\s*\[/.test(l));
    if (end < 0) end = lines.length;
    for (const [key, value] of Object.entries(values)) {
      const at = lines.findIndex((l, i) => i > start && i < end && l.split('=')[0].trim().toLowerCase() === key.toLowerCase());
      if (at >= 0) lines[at] = `${key}=${value}`;
      else { lines.splice(end, 0, `${key}=${value}`); end++; }
    }
    writeFileSync(this.configFile, lines.join('\n'));
  }
}
