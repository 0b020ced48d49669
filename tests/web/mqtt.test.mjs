// Publishing to a real mosquitto broker: state with its last will, values on
// change, "/set" for the named variables only, a broker restart survived.
import fs from 'node:fs';
import path from 'node:path';
import { spawnSync } from 'node:child_process';
import { plant, gateway, setVar, getVar, waitFor, runCases, skip, start, stop, tempDir, freePort, waitPort, quorctl } from './support.mjs';

const has = bin => spawnSync('sh', ['-c', 'command -v ' + bin]).status === 0;
for (const b of ['mosquitto', 'mosquitto_sub', 'mosquitto_pub'])
  if (!has(b) && !fs.existsSync('/usr/sbin/' + b)) skip(b + ' is not installed');
const MOSQUITTO = has('mosquitto') ? 'mosquitto' : '/usr/sbin/mosquitto';

const brokerDir = tempDir('broker');
const brokerPort = await freePort();
fs.writeFileSync(path.join(brokerDir, 'mosquitto.conf'),
  `listener ${brokerPort} 127.0.0.1\nallow_anonymous true\npersistence false\n`);
async function broker() {
  const b = start(MOSQUITTO, ['-c', path.join(brokerDir, 'mosquitto.conf')]);
  if (!await waitPort(brokerPort)) throw new Error('broker did not start: ' + b.stderrText);
  return b;
}
let mq = await broker();

// The retained or next message on a topic, as a late subscriber sees it.
function one(topic, ms = 3000) {
  const r = spawnSync('mosquitto_sub', ['-p', String(brokerPort), '-h', '127.0.0.1', '-t', topic, '-C', '1',
    '-W', String(Math.ceil(ms / 1000))], { encoding: 'utf8' });
  return r.stdout.trim();
}
function pub(topic, text) {
  spawnSync('mosquitto_pub', ['-p', String(brokerPort), '-h', '127.0.0.1', '-t', topic, '-m', text]);
}

const { port: ctlPort } = await plant();
const { gw } = await gateway(ctlPort, ['--mqtt', '127.0.0.1:' + brokerPort, '--publish', '!temp', '--publish', '!level',
  '--publish', 'Plant.alarms']);
// Everything under the prefix from now on.
const seen = [];
function listen() {
  const sub = start('mosquitto_sub', ['-p', String(brokerPort), '-h', '127.0.0.1', '-t', 'quor/QUOR/#', '-v'],
    { stdio: ['ignore', 'pipe', 'pipe'] });
  sub.stdout.on('data', d => seen.push(...String(d).trim().split('\n')));
}
listen();
const saw = line => seen.includes(line);

await runCases([
  ['the state is online, retained', async () => {
    await waitFor(() => one('quor/QUOR/state') === 'online', 5000, 'online');
  }],
  ['a value is published on change', async () => {
    setVar(ctlPort, '!temp', 33.5);
    await waitFor(() => saw('quor/QUOR/!temp {"value":33.5}'), 3000, 'temp 33.5');
  }],
  ['/set writes a named variable and nothing else', async () => {
    pub('quor/QUOR/!level/set', '4.5');
    await waitFor(() => getVar(ctlPort, '!level') === 4.5, 3000, 'level 4.5');
    await waitFor(() => saw('quor/QUOR/!level {"value":4.5}'), 3000, 'level published');
    setVar(ctlPort, '!setpoint', 1);
    pub('quor/QUOR/!setpoint/set', '9');
    pub('quor/QUOR/!level/set', 'abc');
    await new Promise(r => setTimeout(r, 800));
    if (getVar(ctlPort, '!setpoint') !== 1) throw new Error('setpoint written');
    if (getVar(ctlPort, '!level') !== 4.5) throw new Error('level changed by a bad payload');
  }],
  ['a local name of a module is published and written', async () => {
    pub('quor/QUOR/Plant.alarms/set', '1');
    await waitFor(() => getVar(ctlPort, 'Plant.alarms') === 1, 3000, 'alarms[0] 1');
    await waitFor(() => saw('quor/QUOR/Plant.alarms {"value":1}'), 3000, 'Plant.alarms published');
  }],
  ['an alarm is retained for a late subscriber, and so is its clearing', async () => {
    const alarm = () => JSON.parse(one('quor/QUOR/alarm/Level_alarms') || '{}');
    await waitFor(() => alarm().state === 'active', 5000, 'active alarm');
    const a = alarm();
    if (a.value !== 1 || a.alarms.join() !== '1,0' || !(a.time > 0) || !/^20\d\d-/.test(a.date))
      throw new Error('alarm ' + JSON.stringify(a));
    setVar(ctlPort, 'Plant.alarms', 0);
    await waitFor(() => alarm().state === 'clear', 5000, 'cleared alarm');
  }],
  ['a broker restart is survived', async () => {
    await stop(mq);
    setVar(ctlPort, '!temp', 1);
    mq = await broker();
    await waitFor(() => one('quor/QUOR/state') === 'online', 20000, 'online again');
    listen();
    await new Promise(r => setTimeout(r, 300));
    setVar(ctlPort, '!temp', 44);
    await waitFor(() => saw('quor/QUOR/!temp {"value":44}'), 5000, 'temp 44 after restart');
    // The new broker holds the alarm's state again.
    if (JSON.parse(one('quor/QUOR/alarm/Level_alarms') || '{}').state !== 'clear') throw new Error('alarm not retained');
  }],
  ['a removed alarm is taken off the broker', async () => {
    const at = quorctl(ctlPort, ['list']).out.split('\n').findIndex(l => l === '  Alarm Level alarms');
    const r = quorctl(ctlPort, ['--password', '', 'shell'], `apos||${at}\nblocks\nblocke\ndel\n`);
    if (at < 0 || /fail/.test(r.out)) throw new Error('delete failed: ' + r.out + r.err);
    await waitFor(() => one('quor/QUOR/alarm/Level_alarms', 1000) === '', 10000, 'alarm topic cleared');
  }],
  ['killing the gateway publishes offline', async () => {
    await stop(gw, 'SIGKILL');
    await waitFor(() => one('quor/QUOR/state') === 'offline', 5000, 'offline');
  }],
]);
