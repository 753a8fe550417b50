// Drives the remote-control page in headless Chromium as a user would: opens
// it without a token, enters the token through the page, presses Start and
// Stop and watches the state change; then opens a link with the token and
// checks that the address bar drops it.
// Usage: node control_page.mjs <page address> <token> [screenshot.png]
import { chromium } from 'playwright-core';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const [address, token, screenshot] = process.argv.slice(2);
if (!address || !token) {
  console.error('usage: node control_page.mjs <address> <token> [screenshot]');
  process.exit(2);
}

function check(condition, what) {
  if (!condition) throw new Error(what);
}

async function stateBecomes(page, state) {
  await page.waitForFunction(
    (s) => document.getElementById('state').getAttribute('data-state') === s, state);
}

async function buttons(page) {
  return page.evaluate(() => ({
    start: !document.getElementById('start').disabled,
    stop: !document.getElementById('stop').disabled,
  }));
}

// Presses a button twice in quick succession: the request in flight holds
// the button, so one request goes out.
let sent = 0;
async function press(page, name) {
  const answered = page.waitForResponse(
    (r) => r.url().endsWith('/api/' + name) && r.request().method() === 'POST');
  const before = sent;
  await page.dblclick('#' + name);
  check(await page.isDisabled('#' + name), `${name} stays held after it was pressed`);
  const response = await answered;
  check(response.status() === 200, `${name} answered ${response.status()}`);
  return () => sent - before;
}

const profile = mkdtempSync(join(tmpdir(), 'recorder-chromium-'));
let context;
let failed = false;
try {
  context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    timeout: 30000,
    viewport: { width: 720, height: 560 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const page = context.pages()[0] ?? await context.newPage();
  page.setDefaultTimeout(15000);
  page.on('request', (r) => { if (r.method() === 'POST') sent += 1; });
  await page.goto(address);

  // No token yet: the page asks for it.
  await page.waitForSelector('#tokenForm:not([hidden])');
  let b = await buttons(page);
  check(!b.start && !b.stop, 'no button is enabled without a token');
  await page.fill('#token', token);
  if (screenshot) await page.screenshot({ path: screenshot }); // the guide's picture
  await page.click('#useToken');
  await stateBecomes(page, '1');
  check(await page.isHidden('#tokenForm'), 'the token form goes away once the token works');
  check((await page.textContent('#state')) === 'Stopped', 'the state is shown in words');
  b = await buttons(page);
  check(b.start && !b.stop, 'only Start is enabled while stopped');

  const starts = await press(page, 'start');
  await stateBecomes(page, '2');
  check(starts() === 1, `a double click on Start sent ${starts()} requests`);
  check((await page.textContent('#state')) === 'Running', 'running is shown in words');
  b = await buttons(page);
  check(!b.start && b.stop, 'only Stop is enabled while running');
  await page.waitForFunction(() => /^0:00:0[1-9]\.\d$/.test(document.getElementById('time').textContent));
  if (screenshot) await page.screenshot({ path: screenshot.replace(/\.png$/, '-running.png') });

  await press(page, 'stop');
  await stateBecomes(page, '1');

  // A link with the token: taken, and gone from the address bar.
  const linked = await context.newPage();
  await linked.goto(address + '?token=' + encodeURIComponent(token));
  check(!linked.url().includes('token='), 'the token stayed in the address bar');
  await stateBecomes(linked, '1');

  // A refusal stays on the page, across refreshes, until it is dismissed.
  await linked.evaluate(() => {
    sessionStorage.setItem('orvaneToken', 'not-the-token');
    document.getElementById('start').click();
  });
  await linked.waitForSelector('#message:not([hidden])');
  await linked.waitForSelector('#tokenForm:not([hidden])');
  await linked.waitForTimeout(1500);
  check(await linked.isVisible('#message'), 'the refusal was overwritten');
  check((await linked.textContent('#messageText')).includes('Start refused'), 'the refusal says what');
  if (screenshot) await linked.screenshot({ path: screenshot.replace(/\.png$/, '-refused.png') });
  await linked.click('#dismiss');
  check(await linked.isHidden('#message'), 'dismiss hides the refusal');
  console.log('browser: token entered, Start and Stop pressed, state followed');
} catch (error) {
  failed = true;
  console.error(`browser: ${error.message}`);
} finally {
  if (context) await context.close();
  rmSync(profile, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
