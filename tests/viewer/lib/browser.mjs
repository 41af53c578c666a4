// Starts Debian's Chromium through playwright-core, headless, with a fresh profile.
import { mkdtempSync, rmSync, existsSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

export const CHROMIUM = process.env.VELLUMARK_CHROMIUM || '/usr/bin/chromium';
const FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
  '--disable-component-update', '--no-first-run', '--disable-quic', '--disable-sync'];

// hasTouch: a touch screen (touch events and pointer events of type "touch");
// deviceScaleFactor: device pixels per CSS pixel (window.devicePixelRatio).
export async function launch({ viewport = { width: 1280, height: 800 }, hasTouch = false, deviceScaleFactor = 1 } = {}) {
  if (!existsSync(CHROMIUM)) throw new Error(`${CHROMIUM} is missing (scripts/install-deps.sh --test installs it)`);
  let chromium;
  try {
    ({ chromium } = await import('playwright-core'));
  } catch {
    throw new Error('playwright-core is missing: run npm install in tests/viewer (scripts/install-deps.sh --test does)');
  }
  const profile = mkdtempSync(join(tmpdir(), 'vellumark-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM, headless: true, args: FLAGS, viewport, hasTouch, deviceScaleFactor,
  });
  return {
    context,
    close: async () => { await context.close().catch(() => {}); rmSync(profile, { recursive: true, force: true }); },
  };
}
