// Checks that the shipped book files use only web-platform features that current Firefox
// and Safari (desktop and iOS) support, next to the Chromium that the browser tests drive:
// scripts through ESLint's compat rule (MDN's compatibility data) and a syntax level both
// engines have long had, style sheets through doiuse (caniuse data).
// The viewer script is checked as it ships: the index.js the build made from its source.
//   node tests/viewer/compat.mjs [program folder]     (default: $VELLUMARK_PROGRAM_DIR)
// Exits 1 with one line per finding.
import { ESLint } from 'eslint';
import compat from 'eslint-plugin-compat';
import doiuse from 'doiuse';
import postcss from 'postcss';
import { existsSync, readFileSync } from 'node:fs';
import { dirname, join, relative } from 'node:path';
import { fileURLToPath } from 'node:url';

const root = join(dirname(fileURLToPath(import.meta.url)), '../..');
const upload = join(root, 'data/DefaultCfg/Upload');
const programDir = process.argv[2] || process.env.VELLUMARK_PROGRAM_DIR;
const builtScript = programDir ? join(programDir, 'DefaultCfg/Upload/index.js') : null;
if (!builtScript || !existsSync(builtScript)) {
  console.log(`the built index.js is missing${builtScript ? ` (${builtScript})` : ''}: build the default_config target ` +
    'and pass the program folder');
  process.exit(1);
}
const browsers = ['last 2 Chrome versions', 'last 2 Firefox versions', 'last 2 Safari versions',
  'last 2 iOS versions'];

// Style features reported as missing or partial that were checked and do no harm:
// each only refines the page where it is supported.
const reviewedStyleFeatures = [
  'css-touch-action',     // desktop Safari has no touch input to steer
  'css3-cursors-grab',    // iOS shows no pointer, so no cursor shape
  'css-resize',           // iOS: the note field simply keeps its size
  'intrinsic-width',      // partial only for the "stretch" keyword, which is not used
  'css-display-contents', // partial for buttons made contents; only a plain group div is
  'css-selection',        // iOS colours a text selection its own way
  // The print view asks for a new sheet per page with both break-after and
  // page-break-after: every browser honours one of them when printing.
  'multicolumn',
  'css-page-break',
];

// The <script> and <style> blocks of an HTML file, with the line each starts on.
function blocks(text, tag) {
  const found = [];
  const pattern = new RegExp(`<${tag}>([\\s\\S]*?)</${tag}>`, 'g');
  for (const match of text.matchAll(pattern)) {
    const line = text.slice(0, match.index).split('\n').length;
    found.push({ code: match[1], line });
  }
  return found;
}

const scripts = [
  { name: 'index.js', code: readFileSync(builtScript, 'utf8'), line: 1 },
  ...['skins/2/skin.js'].map((name) => ({ name, code: readFileSync(join(upload, name), 'utf8'), line: 1 })),
  ...['print.html', 'service.asp'].flatMap((name) =>
    blocks(readFileSync(join(upload, name), 'utf8'), 'script').map((b) => ({ name, ...b }))),
];
const styles = [
  ...['RurovOzeza.v1.css', 'skins/2/site_styles.css'].map((name) => ({ name, code: readFileSync(join(upload, name), 'utf8'), line: 1 })),
  ...['print.html'].flatMap((name) => blocks(readFileSync(join(upload, name), 'utf8'), 'style').map((b) => ({ name, ...b }))),
];

const findings = [];
const eslint = new ESLint({
  cwd: root,
  overrideConfigFile: true,
  overrideConfig: [{
    plugins: { compat },
    languageOptions: { ecmaVersion: 2020, sourceType: 'script' },
    settings: { browsers, polyfills: [] },
    rules: { 'compat/compat': 'error' },
  }],
});
for (const s of scripts) {
  // Blocks of HTML files are linted as the scripts they are.
  const filePath = join(upload, s.name.endsWith('.js') ? s.name : `${s.name}.js`);
  const [result] = await eslint.lintText(s.code, { filePath });
  for (const m of result.messages)
    findings.push(`${s.name}:${s.line + (m.line || 1) - 1}: ${m.message}`);
}
for (const s of styles) {
  await postcss([doiuse({
    browsers,
    ignore: reviewedStyleFeatures,
    onFeatureUsage: (usage) => {
      const line = s.line + (usage.usage.source?.start?.line ?? 1) - 1;
      findings.push(`${s.name}:${line}: ${usage.featureData.title} (${usage.feature}): ${usage.featureData.missing || usage.featureData.partial}`);
    },
  })]).process(s.code, { from: join(upload, s.name) });
}

console.log(`checked ${scripts.length} scripts and ${styles.length} style sheets of ${relative(root, upload)} for ${browsers.join(', ')}`);
for (const f of findings) console.log(`not supported everywhere: ${f}`);
process.exit(findings.length ? 1 : 0);
