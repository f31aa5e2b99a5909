// Starts `vexlor studio` on a free port and a headless Chromium for the browser tests.
//   VEXLOR          the vexlor program (default: build/asan/bin/vexlor)
//   CHROMIUM        the browser (default: /usr/bin/chromium)
//   STUDIO_ARTEFACTS  folder for the screenshots of each step (default: build/asan/studio-artefacts)
//   STUDIO_DOCS     when set, a folder that also gets a small JPEG of each step
import { spawn } from 'node:child_process';
import { mkdirSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';

export const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
export const vexlor = process.env.VEXLOR || path.join(root, 'build/asan/bin/vexlor');
export const artefacts = process.env.STUDIO_ARTEFACTS || path.join(root, 'build/asan/studio-artefacts');
mkdirSync(artefacts, { recursive: true });
// The module's numbers (plug-ins, gadgets, modes) as the build wrote them for the page, beside vexlor.
export const ids = await import(pathToFileURL(path.join(path.dirname(vexlor), 'web/ids.js')).href);

// Runs the host with the files; resolves once it printed its address.
export function startStudio(args, cwd = root) {
  return new Promise((resolve, reject) => {
    const child = spawn(vexlor, ['studio', ...args], { cwd, stdio: ['ignore', 'pipe', 'pipe'] });
    let out = '', err = '';
    const timer = setTimeout(() => reject(new Error('vexlor studio printed no address: ' + out + err)), 60000);
    child.stdout.on('data', (d) => {
      out += d;
      const m = out.match(/http:\/\/127\.0\.0\.1:(\d+)\//);
      if (m) { clearTimeout(timer); resolve({ child, url: m[0], port: Number(m[1]), output: () => out + err }); }
    });
    child.stderr.on('data', (d) => { err += d; });
    child.on('exit', (code) => { clearTimeout(timer); reject(new Error(`vexlor studio ended (${code}): ${out}${err}`)); });
  });
}

// The run's token, as the studio's page gets it with its HTML (the tests' own calls send it back).
export async function tokenOf(url) {
  const html = await (await fetch(url)).text();
  const m = html.match(/<meta name="vexlor-token" content="([0-9a-f]+)">/);
  if (!m) throw new Error('the page carries no token: ' + html.slice(0, 300));
  return m[1];
}

// Waits for the host to end by itself; resolves with its exit code, or null after `ms`.
export function ended(child, ms) {
  if (child.exitCode !== null) return Promise.resolve(child.exitCode);
  return new Promise((resolve) => {
    const timer = setTimeout(() => resolve(null), ms);
    child.once('exit', (code) => { clearTimeout(timer); resolve(code); });
  });
}

export async function launchBrowser() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--use-gl=angle', '--use-angle=swiftshader', '--enable-unsafe-swiftshader'],
  });
}

// A page on the studio, once it shows the document. Page errors fail the test that reads `errors`.
// A laptop's window; the README's pictures (STUDIO_DOCS) are taken on a larger one. Drawn in software,
// every frame costs in proportion to its pixels, a good part of the tests' time.
export const viewport = process.env.STUDIO_DOCS ? { width: 1400, height: 860 } : { width: 1024, height: 640 };
export async function openPage(browser, url) {
  const page = await browser.newPage({ viewport });
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  if (process.env.STUDIO_DEBUG) page.on('request', (r) => { if (r.method() === 'POST') console.log('POST', r.url(), r.postData()); });
  if (process.env.STUDIO_DEBUG) page.on('console', (m) => console.log('page:', m.text()));
  // Generous limits: a shared machine can take its time over three.js and the first mesh.
  page.setDefaultTimeout(180000);
  await page.goto(url, { timeout: 180000 });
  await page.waitForFunction(() => window.studio && window.studio.version > 0 && window.studio.meshes.size > 0,
                             null, { timeout: 180000 });
  return { page, errors };
}

// A screenshot of a step; with STUDIO_DOCS set, also a small JPEG of it there (the README's pictures).
export async function shot(page, name) {
  await page.waitForTimeout(150);
  await page.screenshot({ path: path.join(artefacts, name) });
  if (process.env.STUDIO_DOCS)
    await page.screenshot({ path: path.join(process.env.STUDIO_DOCS, name.replace(/\.png$/, '.jpg')), type: 'jpeg', quality: 70 });
}

// The state the page shows, read in the page.
export const pageState = (page) => page.evaluate(() => window.studio.state());

// Waits until the page's state satisfies `predicate` (a function of the state, run in the page).
export async function until(page, predicate, arg, timeout = 120000) {
  await page.waitForFunction(predicate, arg, { timeout, polling: 100 });
}
