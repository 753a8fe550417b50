// Opens the remote-control page in headless Chromium, waits until the status
// line shows the state the test set, and presses Start.
// Usage: node press_start.mjs <page address with ?token=...> <expected state> [screenshot.png]
import { chromium } from 'playwright-core';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const [address, expectedState, screenshot] = process.argv.slice(2);
if (!address || !expectedState) {
  console.error('usage: node press_start.mjs <address> <expected state> [screenshot]');
  process.exit(2);
}

const profile = mkdtempSync(join(tmpdir(), 'recorder-chromium-'));
let context;
let failed = false;
try {
  context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    timeout: 30000,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const page = context.pages()[0] ?? await context.newPage();
  page.setDefaultTimeout(15000);
  await page.goto(address);

  // The status line refreshes itself and shows the state the module passed on.
  await page.waitForFunction(
    (state) => document.getElementById('status').getAttribute('data-state') === state,
    expectedState);
  if (page.url().includes('token=')) throw new Error('the token stayed in the address bar');

  const answered = page.waitForResponse(
    (r) => r.url().endsWith('/api/start') && r.request().method() === 'POST');
  await page.click('#start');
  const response = await answered;
  if (response.status() !== 200) throw new Error(`start answered ${response.status()}`);
  if (screenshot) await page.screenshot({ path: screenshot });
  console.log('browser: Start pressed, answered 200');
} catch (error) {
  failed = true;
  console.error(`browser: ${error.message}`);
} finally {
  if (context) await context.close();
  rmSync(profile, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
