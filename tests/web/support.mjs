// Shared set-up of the gateway's end-to-end tests: a real controller in a
// temporary directory with a small plant built through the protocol, the
// gateway in front of it, a tiny runner that prints the closing counts.
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

export const BIN = process.env.QUOR_BINARY_DIR || path.resolve('build');
const started = [], dirs = [];
// Whatever way the run ends, nothing it started or made outlives it.
process.on('exit', () => {
  for (const p of started) if (p.exitCode === null && p.signalCode === null) p.kill('SIGKILL');
  for (const d of dirs) fs.rmSync(d, { recursive: true, force: true });
});

export function freePort() {
  return new Promise((resolve, reject) => {
    const s = net.createServer();
    s.listen(0, '127.0.0.1', () => { const p = s.address().port; s.close(() => resolve(p)); });
    s.on('error', reject);
  });
}

export const sleep = ms => new Promise(r => setTimeout(r, ms));

export async function waitPort(port, ms = 5000) {
  const until = Date.now() + ms;
  while (Date.now() < until) {
    const ok = await new Promise(r => {
      const c = net.connect(port, '127.0.0.1', () => { c.destroy(); r(true); });
      c.on('error', () => r(false));
    });
    if (ok) return true;
    await sleep(50);
  }
  return false;
}

// Starts a program; it is ended by pid at the end of the run.
export function start(bin, args, opts = {}) {
  const p = spawn(bin, args, { stdio: ['ignore', 'ignore', 'pipe'], ...opts });
  p.stderrText = '';
  p.stderr.on('data', d => { p.stderrText += d; });
  started.push(p);
  return p;
}

export function stop(p, signal = 'SIGTERM') {
  return new Promise(r => {
    p.stopped = true;
    if (p.exitCode !== null || p.signalCode !== null) return r();
    p.once('exit', () => r());
    p.kill(signal);
  });
}

export async function stopAll() {
  for (const p of started.reverse()) await stop(p);
}

export function tempDir(tag) {
  const d = fs.mkdtempSync(path.join(os.tmpdir(), 'quorweb_' + tag + '_'));
  dirs.push(d);
  return d;
}

export function quorctl(port, args, input) {
  const r = spawnSync(path.join(BIN, 'quorctl'), ['--port', String(port), ...args],
    { input, encoding: 'utf8', timeout: 30000 });
  return { status: r.status, out: r.stdout || '', err: r.stderr || '' };
}

const f32 = v => { const b = Buffer.alloc(4); b.writeFloatBE(v); return b.readInt32BE(); };

// A controller with two screens: "Plant" (screen Main: a frame, fields on
// !temp and on !level limited to 0..50, a slider on !setpoint limited to
// 0..100, a button to Other, a graph of !temp, a field on !locked that only
// levels up to 20 may write, a lamp on !pump, a bar of !temp over 0..100, a
// panel of the Alarm instruction "Level alarms" on the local block "alarms")
// and "Other" (a button back).
export async function plant() {
  const dir = tempDir('ctl');
  const port = await freePort();
  const ctl = start(path.join(BIN, 'quor'), ['--dir', dir, '--port', String(port)], { cwd: dir });
  if (!await waitPort(port)) throw new Error('controller did not start: ' + ctl.stderrText);
  const obj = (name, type, x, y, rows = []) => [
    `hinsert|${name}|${type}`, `sconfig||1|${x}|13|0|0`, `sconfig||1|${y}|14|0|1`, ...rows];
  const lines = [
    // Numbers below are sent as they stand: values are already bit patterns.
    'raw on',
    // An operator password "oper" for levels 1 to 9 (the programmer's own
    // session would shut every other client out).
    'gpos||0', 'resize||4|2', 'sconfig|oper|4|0|264|2|0', 'sconfig||4|1|3|2|1', 'sconfig||4|9|3|2|2',
    'start', 'insert|Plant|0|0',
    // An Alarm instruction: master !master, the module's own block "alarms" of two;
    // the first format of its type for the panel below.
    'insert|Level alarms|27|0', 'sconfig|!master|0|0|263|0|0', 'sconfig|alarms|0|0|263|0|1', 'sconfig||0|2|3|0|2',
    'ihmis|Master}Alarm block}Number of alarms|27',
    'shmiw||9', 'sfhmi|Main|0|0|0',
    ...obj('Boiler room', 0, 10, 10),
    ...obj('temp', 2, 10, 60, ['sconfig|!temp|1|0|263|0|4', 'sconfig||1|1|5|0|6']),
    ...obj('setpoint', 2, 10, 110, ['sconfig|!setpoint|1|0|263|0|4', 'sconfig||1|1|5|0|6', 'sconfig||1|5|3|0|5',
      `sconfig||1|${f32(0)}|0|0|9`, `sconfig||1|${f32(100)}|0|0|10`, 'sconfig||1|4|5|0|11']),
    ...obj('level', 2, 10, 160, ['sconfig|!level|1|0|263|0|4', 'sconfig||1|2|5|0|6', 'sconfig||1|5|3|0|5',
      `sconfig||1|${f32(0)}|0|0|9`, `sconfig||1|${f32(50)}|0|0|10`]),
    ...obj('to other', 1, 10, 210, ['sconfig|Other|1|0|267|0|6']),
    ...obj('trend', 5, 10, 260, ['sconfig|!temp|1|0|263|0|8']),
    ...obj('locked', 2, 400, 60, ['sconfig|!locked|1|0|263|0|4', 'sconfig||1|20|3|0|5']),
    ...obj('pump', 2, 400, 110, ['sconfig|!pump|1|0|263|0|4', 'sconfig||1|1|5|0|11', `sconfig||1|${0x33cc33}|16|0|12`]),
    ...obj('tank', 2, 400, 160, ['sconfig|!temp|1|0|263|0|4', 'sconfig||1|1|5|0|6', `sconfig||1|${f32(0)}|0|0|9`,
      `sconfig||1|${f32(100)}|0|0|10`, 'sconfig||1|5|5|0|11']),
    ...obj('alarm panel', 3, 400, 210, [`sconfig||1|${1 + (1 << 16)}|10|0|4`, 'sconfig||1|9|3|0|5']),
    'insert|Other|0|0', 'shmiw||9', 'sfhmi|Other|0|0|0',
    ...obj('back', 1, 10, 10, ['sconfig|Main|1|0|267|0|6']),
    'svar|!temp|' + f32(18.5),
  ];
  const r = quorctl(port, ['--password', '', 'shell'], lines.join('\n') + '\n');
  if (r.status !== 0 || /fail/.test(r.out)) throw new Error('plant set-up failed: ' + r.out + r.err);
  return { dir, port, ctl };
}

// The demo plant compiled from its program text, with `edit` applied to the
// text first (say, a shorter record interval).
export async function demo(edit = t => t) {
  const dir = tempDir('demo');
  const text = fs.readFileSync(new URL('../../examples/demo/plant.qp', import.meta.url), 'utf8');
  fs.writeFileSync(path.join(dir, 'plant.qp'), edit(text));
  const b = spawnSync(path.join(BIN, 'quorc'), ['build', path.join(dir, 'plant.qp'), '-o', path.join(dir, 'quor.qrn')],
    { encoding: 'utf8' });
  if (b.status !== 0) throw new Error('quorc: ' + b.stderr);
  const port = await freePort();
  const ctl = start(path.join(BIN, 'quor'), ['--dir', dir, '--port', String(port)], { cwd: dir });
  if (!await waitPort(port)) throw new Error('controller did not start: ' + ctl.stderrText);
  return { dir, port, ctl };
}

export async function gateway(ctlPort, extra = []) {
  const port = await freePort();
  const gw = start(path.join(BIN, 'quorweb'),
    ['--controller', '127.0.0.1:' + ctlPort, '--listen', '127.0.0.1:' + port, ...extra]);
  if (!await waitPort(port)) throw new Error('gateway did not start: ' + gw.stderrText);
  return { port, gw, url: 'http://127.0.0.1:' + port };
}

export function setVar(ctlPort, name, value) {
  const r = quorctl(ctlPort, ['set', name, String(value)]);
  if (r.status !== 0) throw new Error('set failed: ' + r.err);
}
export function getVar(ctlPort, name) {
  return Number(quorctl(ctlPort, ['get', name]).out.trim());
}

export async function waitFor(fn, ms = 5000, what = 'condition') {
  const until = Date.now() + ms;
  for (;;) {
    const v = await fn();
    if (v) return v;
    if (Date.now() > until) throw new Error('timed out waiting for ' + what);
    await sleep(50);
  }
}

// Runs named cases in order; prints "N passed, N failed" and exits 1 on a failure.
export async function runCases(cases, after) {
  let passed = 0, failed = 0;
  for (const [name, fn] of cases) {
    try {
      await fn();
      passed++;
      console.log('ok   ' + name);
    } catch (e) {
      failed++;
      console.log('FAIL ' + name + ': ' + (e && e.stack || e));
      // A program that ended by itself says why on stderr (a sanitizer report, say).
      for (const p of started)
        if ((p.exitCode !== null || p.signalCode !== null) && !p.reported && !p.stopped) {
          p.reported = true;
          console.log(`  ${p.spawnfile} ended (${p.exitCode ?? p.signalCode}):\n${p.stderrText.slice(-4000)}`);
        }
    }
  }
  if (after) await after().catch(() => {});
  await stopAll();
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed ? 1 : 0);
}

// Exit status 77 tells ctest the test was skipped; in CI the tools must be there.
export function skip(why) {
  console.log('skipped: ' + why);
  process.exit(process.env.CI ? 1 : 77);
}
