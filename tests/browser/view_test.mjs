// The live view in a real browser: starts a view server (the scripted
// stand-in, or `brelo-ctl view QUERY` with --brelo-ctl), opens the page in
// headless Chromium and checks what a newcomer should see and do: every
// mote drawn, LEDs changing, packets flashing, results arriving, a click
// switching a mote off, and errors shown as the server words them. Leaves a
// screenshot behind as an artefact.
//
// node view_test.mjs --web DIR --deps DIR --screenshot FILE
//                    [--brelo-ctl PATH --query FILE]
import { spawn, spawnSync } from 'node:child_process';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { parseArgs } from 'node:util';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const { values: options } = parseArgs({
  options: {
    web: { type: 'string' }, deps: { type: 'string' }, screenshot: { type: 'string' },
    'brelo-ctl': { type: 'string' }, query: { type: 'string' },
  },
});
const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
const WAIT_MS = 20000;

// puppeteer-core at the version the committed lock file pins, installed by
// `npm ci` into the build folder; kept between runs while the version
// matches, so a machine that installed it once runs offline.
function loadPuppeteer(depsDir) {
  fs.mkdirSync(depsDir, { recursive: true });
  for (const file of ['package.json', 'package-lock.json']) fs.copyFileSync(path.join(here, file), path.join(depsDir, file));
  const wanted = JSON.parse(fs.readFileSync(path.join(here, 'package.json'))).dependencies['puppeteer-core'];
  const installed = path.join(depsDir, 'node_modules', 'puppeteer-core', 'package.json');
  const version = () => (fs.existsSync(installed) ? JSON.parse(fs.readFileSync(installed)).version : null);
  if (version() !== wanted) {
    const npm = spawnSync('npm', ['ci', '--no-audit', '--no-fund', '--prefer-offline'], { cwd: depsDir, encoding: 'utf8' });
    if (npm.status !== 0 || version() !== wanted) {
      throw new Error(`could not install puppeteer-core ${wanted} with "npm ci" in ${depsDir} ` +
        `(is npm installed and the npm registry reachable?):\n${npm.error?.message ?? ''}${npm.stderr ?? ''}`);
    }
  }
  return createRequire(path.join(depsDir, 'package.json'))('puppeteer-core');
}

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.on('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

function startServer(port) {
  const [command, args] = options['brelo-ctl']
    ? [options['brelo-ctl'], ['view', options.query, '--http-port', String(port)]]
    : [process.execPath, [path.join(here, 'standin_server.mjs'), '--port', String(port), '--web', options.web]];
  const child = spawn(command, args, { stdio: ['ignore', 'pipe', 'pipe'] });
  child.output = '';
  child.stdout.on('data', (chunk) => { child.output += chunk; });
  child.stderr.on('data', (chunk) => { child.output += chunk; });
  return child;
}

async function waitForInfo(base, server) {
  const deadline = Date.now() + 30000;
  while (Date.now() < deadline) {
    if (server.exitCode !== null) throw new Error(`the view server exited (${server.exitCode}):\n${server.output}`);
    try {
      const response = await fetch(`${base}/api/info`);
      if (response.ok) return await response.json();
    } catch {
      // not listening yet
    }
    await new Promise((resolve) => setTimeout(resolve, 200));
  }
  throw new Error(`the view server did not answer /api/info within 30 s:\n${server.output}`);
}

const ledSignature = (page) => page.$$eval('.mote', (motes) =>
  motes.map((m) => [...m.querySelectorAll('.led')].map((l) => (l.classList.contains('lit') ? 1 : 0)).join('')).join(','));

async function main() {
  if (!fs.existsSync(CHROMIUM)) throw new Error(`no Chromium at ${CHROMIUM}: run scripts/setup.sh (or set CHROMIUM)`);
  const puppeteer = loadPuppeteer(path.resolve(options.deps));
  const port = await freePort();
  const server = startServer(port);
  const base = `http://127.0.0.1:${port}`;
  let browser = null;
  let page = null;
  const results = [];
  const check = async (name, body) => {
    try {
      await body();
      results.push(true);
      console.log(`ok   ${name}`);
    } catch (error) {
      results.push(false);
      console.log(`FAIL ${name}: ${error.message}`);
    }
  };
  try {
    const info = await waitForInfo(base, server);
    browser = await puppeteer.launch({ executablePath: CHROMIUM, headless: true,
      args: ['--no-sandbox', '--disable-dev-shm-usage', '--disable-gpu'] });
    page = await browser.newPage();
    await page.setViewport({ width: 1280, height: 900 });
    const pageErrors = [];
    page.on('pageerror', (error) => pageErrors.push(error.message));
    // Refused commands answer 400, which the console logs as a failed load:
    // those are expected; anything else logged as an error is not.
    page.on('console', (message) => {
      if (message.type() === 'error' && !message.text().startsWith('Failed to load resource')) pageErrors.push(message.text());
    });
    await page.goto(base, { waitUntil: 'load' });
    await page.waitForSelector('body[data-ready="true"]', { timeout: WAIT_MS });
    const firstLeds = await ledSignature(page);

    await check('every mote is drawn', async () => {
      const drawn = await page.$$eval('#network .mote', (motes) => motes.length);
      if (drawn !== info.motes) throw new Error(`${drawn} motes drawn, the server has ${info.motes}`);
    });
    await check('an LED changes', () => page.waitForFunction((before) => {
      const now = [...document.querySelectorAll('.mote')].map((m) =>
        [...m.querySelectorAll('.led')].map((l) => (l.classList.contains('lit') ? 1 : 0)).join('')).join(',');
      return now !== before;
    }, { timeout: WAIT_MS }, firstLeds));
    await check('a sent packet flashes', () => page.waitForSelector('.mote.sending, .arrow.active', { timeout: WAIT_MS }));
    await check('a result row appears under its field', async () => {
      await page.waitForSelector('#results tbody tr', { timeout: WAIT_MS });
      const { head, cells } = await page.$eval('#results', (table) => ({
        head: [...table.tHead.rows[0].cells].map((c) => c.textContent),
        cells: [...table.tBodies[0].rows[0].cells].map((c) => c.textContent),
      }));
      const fields = info.results?.fields ?? [];
      for (const field of fields) {
        const value = cells[head.indexOf(field)];
        if (head.indexOf(field) < 0 || !/^-?\d+(\.\d+)?$/.test(value)) throw new Error(`no value under "${field}": ${head} / ${cells}`);
      }
    });
    await check('a click switches a mote off once the server confirms', async () => {
      await page.click('.mote[data-mote="1"]');
      await page.waitForSelector('.mote[data-mote="1"].off:not(.pending)', { timeout: WAIT_MS });
      const said = await page.$eval('#mote-output', (o) => o.textContent);
      if (!/switching off/.test(said)) throw new Error(`the page says "${said}"`);
    });
    await check('a refused command shows the server\'s error', async () => {
      const form = '#link-form';
      await page.type(`${form} [name=from]`, '1');
      await page.type(`${form} [name=to]`, '0');
      await page.type(`${form} [name=p]`, '0.5');
      await page.click(`${form} button`);
      await page.waitForFunction(() => document.querySelector('#link-output').textContent !== '', { timeout: WAIT_MS });
      const expectError = info.radio_model !== 'lossy';
      const shown = await page.$eval('#link-output', (o) => ({ text: o.textContent, error: o.classList.contains('error') }));
      if (shown.error !== expectError) throw new Error(`link under the ${info.radio_model} model shows "${shown.text}"`);
    });
    await check('a variable is read through the name picker', async () => {
      const names = await page.$$eval('#var-name option', (o) => o.map((x) => x.value));
      if (!names.includes('LedsM$ledsOn')) throw new Error(`the picker offers ${names}`);
      await page.$eval('#var-form [name=mote]', (input) => { input.value = '2'; });
      await page.select('#var-name', 'LedsM$ledsOn');
      await page.click('#var-form button');
      await page.waitForFunction(() => document.querySelector('#var-output').textContent !== '', { timeout: WAIT_MS });
      const shown = await page.$eval('#var-output', (o) => ({ text: o.textContent, error: o.classList.contains('error') }));
      if (shown.error || !/\b[0-9a-f]{2}( [0-9a-f]{2})*\b/i.test(shown.text)) throw new Error(`the page shows "${shown.text}"`);
    });
    await check('pause holds virtual time still and resume lets it run on', async () => {
      const shownTime = () => page.$eval('#time', (t) => t.textContent);
      await page.click('#pause');
      await page.waitForFunction(() => document.querySelector('#pause').textContent === 'Resume', { timeout: WAIT_MS });
      await new Promise((resolve) => setTimeout(resolve, 500)); // events already under way
      const paused = await shownTime();
      await new Promise((resolve) => setTimeout(resolve, 1000));
      if ((await shownTime()) !== paused) throw new Error(`time ran on from ${paused} while paused`);
      await page.click('#pause');
      await page.waitForFunction((before) => document.querySelector('#time').textContent !== before,
        { timeout: WAIT_MS }, paused);
    });
    await check('the page raised no script errors', async () => {
      if (pageErrors.length > 0) throw new Error(pageErrors.join('; '));
    });
  } finally {
    if (page && options.screenshot) {
      fs.mkdirSync(path.dirname(options.screenshot), { recursive: true });
      await page.screenshot({ path: options.screenshot, fullPage: true }).catch(() => {});
      console.log(`screenshot: ${options.screenshot}`);
    }
    if (browser) await browser.close();
    server.kill();
  }
  const failed = results.filter((ok) => !ok).length;
  console.log(`${results.length - failed} passed, ${failed} failed`);
  return failed === 0;
}

main().then((ok) => process.exit(ok ? 0 : 1), (error) => {
  console.error(`view test: ${error.message}`);
  process.exit(1);
});
