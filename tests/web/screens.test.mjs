// Operator screens in headless chromium: render, live values, operator
// writes and their refusal, screen buttons, graphs, a lost controller.
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { plant, demo, gateway, setVar, getVar, waitFor, runCases, skip, start, stop, tempDir, quorctl, BIN } from './support.mjs';

const CHROMIUM = process.env.QUOR_CHROMIUM || '/usr/bin/chromium';
let chromium;
try {
  chromium = createRequire(import.meta.url)('playwright-core').chromium;
} catch {
  skip('playwright-core is not installed (npm install in tests/web)');
}
if (!fs.existsSync(CHROMIUM)) skip(CHROMIUM + ' is not installed');

const shots = path.join(BIN, 'web-screenshots');
fs.mkdirSync(shots, { recursive: true });
const { port: ctlPort, ctl, dir } = await plant();
const { url } = await gateway(ctlPort, ['--password', 'oper']);
// A fresh profile directory for every run.
const browser = await chromium.launchPersistentContext(tempDir('chromium'), {
  executablePath: CHROMIUM,
  headless: true,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
const page = browser.pages()[0] || await browser.newPage();
const shot = name => page.screenshot({ path: path.join(shots, name + '.png') });
const field = name => page.locator('.variable', { has: page.locator('.label', { hasText: name }) });
const valueOf = async name => (await field(name).locator('.value').textContent()).trim();

await runCases([
  ['the index lists the screens by module name', async () => {
    await page.goto(url + '/');
    const links = await page.locator('#screens a').allTextContents();
    for (const m of ['Plant', 'Other']) if (!links.includes(m)) throw new Error('missing ' + m + ' in ' + links);
    await shot('index');
  }],
  ['a screen renders its objects', async () => {
    await page.click('#screens a:text-is("Plant")');
    await page.waitForSelector('#screen[data-ready="1"]');
    await page.waitForSelector('.frame:text("Boiler room")');
    await waitFor(async () => (await valueOf('temp')) === '18.5', 5000, 'temp 18.5');
    await shot('screen');
  }],
  ['widgets draw from their rows: a lamp, a bar', async () => {
    const lamp = field('pump').locator('.lamp');
    await waitFor(async () => await field('tank').locator('.bar').getAttribute('data-share') === '0.185', 5000, 'bar at 18.5 %');
    if (await lamp.getAttribute('class') !== 'lamp') throw new Error('lamp lit at 0');
    setVar(ctlPort, '!pump', 1);
    await waitFor(async () => await lamp.getAttribute('class') === 'lamp on', 3000, 'lamp lit');
    if (await lamp.evaluate(e => e.style.background) !== 'rgb(51, 204, 51)') throw new Error('style colour not used');
  }],
  ['an instruction panel shows its rows and takes an operator write', async () => {
    const panel = page.locator('.instruction');
    const row = label => panel.locator(`tr[data-label="${label}"] td.value`);
    await waitFor(async () => (await row('Number of alarms').textContent()) === '2', 5000, 'count 2');
    if ((await row('Master').textContent()) !== '!master = 0') throw new Error('master ' + await row('Master').textContent());
    await panel.locator('tr[data-label="Number of alarms"] input').fill('3');
    await panel.locator('tr[data-label="Number of alarms"] button').click();
    await waitFor(async () => (await panel.locator('.msg').textContent()) === 'written', 3000, 'written');
    await waitFor(async () => (await row('Number of alarms').textContent()) === '3', 3000, 'count 3');
    await shot('panel');
  }],
  ['a live value follows the variable', async () => {
    setVar(ctlPort, '!temp', 42.25);
    await waitFor(async () => (await valueOf('temp')) === '42.3', 3000, 'temp 42.3');
  }],
  ['an operator write through a field reaches the variable', async () => {
    await field('level').locator('input').fill('12.5');
    await field('level').locator('button').click();
    await waitFor(async () => (await field('level').locator('.msg').textContent()) === 'written', 3000, 'written');
    if (getVar(ctlPort, '!level') !== 12.5) throw new Error('level is ' + getVar(ctlPort, '!level'));
  }],
  ['a write outside the range is refused and shown', async () => {
    await field('level').locator('input').fill('75');
    await field('level').locator('button').click();
    await waitFor(async () => /refused/.test(await field('level').locator('.msg').textContent()), 3000, 'refusal');
    if (getVar(ctlPort, '!level') !== 12.5) throw new Error('level changed to ' + getVar(ctlPort, '!level'));
    await shot('refused');
  }],
  ['a write outside the session\'s levels is refused by the controller', async () => {
    await field('locked').locator('input').fill('3');
    await field('locked').locator('button').click();
    await waitFor(async () => (await field('locked').locator('.msg').textContent()) === 'refused by the controller', 3000, 'refusal');
    if (getVar(ctlPort, '!locked') !== 0) throw new Error('locked written');
  }],
  ['a write from another site is refused', async () => {
    const body = JSON.stringify({ object: 3, value: 3 });  // the level field
    for (const headers of [{ 'Content-Type': 'text/plain' },
      { 'Content-Type': 'application/json', Origin: 'http://elsewhere.example' }]) {
      const r = await fetch(url + '/api/write/Plant', { method: 'POST', headers, body });
      if (r.status !== 403) throw new Error('status ' + r.status + ' for ' + JSON.stringify(headers));
    }
    if (getVar(ctlPort, '!level') !== 12.5) throw new Error('level changed');
  }],
  ['a slider write reaches the variable', async () => {
    const s = field('setpoint').locator('input[type=range]');
    await s.evaluate(e => { e.value = 60; e.dispatchEvent(new Event('change')); });
    await waitFor(() => getVar(ctlPort, '!setpoint') === 60, 3000, 'setpoint 60');
  }],
  ['a graph draws the variable', async () => {
    const g = page.locator('.graph');
    await waitFor(async () => Number(await g.getAttribute('data-points')) >= 3, 5000, 'points');
    const [t, temp] = await g.evaluate(e => e.chart.data);
    if (!(t[1] > t[0] && temp.at(-1) === 42.25)) throw new Error('chart data ' + JSON.stringify([t, temp]));
    await shot('graph');
  }],
  ['a button switches screens', async () => {
    await page.click('a.button:text("to other")');
    await page.waitForURL(/\/screen\/Other$/);
    await page.waitForSelector('a.button:text("back")');
    await page.click('a.button:text("back")');
    await page.waitForURL(/\/screen\/Plant$/);
  }],
  ['a graph draws history records', async () => {
    // The demo plant writing its trend record every second.
    const d = await demo(t => t.replace('"Record interval" = 10', '"Record interval" = 1'));
    const { url: demoUrl } = await gateway(d.port, ['--password', '']);
    const p = await browser.newPage();
    await p.goto(demoUrl + '/screen/Control');
    const g = p.locator('.graph.history');
    await waitFor(async () => Number(await g.getAttribute('data-points')) >= 3, 20000, 'three records');
    // Bins 1 to 3: level, set-point (held at 50), valve; one record a second.
    const [t, level, sp, valve] = await g.evaluate(e => e.chart.data);
    const bad = t.some((x, i) => i && x - t[i - 1] !== 1) || sp.some(v => v !== 50) ||
      level.some(v => !(v >= 0 && v <= 100)) || valve.length !== t.length;
    if (bad) throw new Error('history data ' + JSON.stringify([t, level, sp, valve]));
    const labels = await g.locator('.u-legend th').allTextContents();
    if (!labels.some(l => l.includes('Set-point %'))) throw new Error('legend ' + labels);
    await p.screenshot({ path: path.join(shots, 'history.png') });
    await p.close();
  }],
  ['a lost controller shows and the session comes back', async () => {
    await page.waitForSelector('#screen[data-ready="1"]');
    // Saving logs in as the programmer, which ends the gateway's session too.
    if (quorctl(ctlPort, ['save']).status !== 0) throw new Error('save failed');
    await waitFor(async () => (await page.locator('#status').textContent()) === 'live', 10000, 'live after save');
    await stop(ctl, 'SIGKILL');
    await waitFor(async () => (await page.locator('#status').textContent()) === 'controller connection lost', 10000, 'lost');
    await shot('lost');
    start(path.join(BIN, 'quor'), ['--dir', dir, '--port', String(ctlPort)], { cwd: dir });
    await waitFor(async () => (await page.locator('#status').textContent()) === 'live', 15000, 'live again');
    setVar(ctlPort, '!temp', 7);
    await waitFor(async () => (await valueOf('temp')) === '7.0', 5000, 'temp 7.0');
  }],
], () => browser.close());
