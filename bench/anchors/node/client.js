// The Node anchor's phone: starts server.js as a process of its own, then runs the benchmark
// workloads of server_bench over ws: `text` -> `ack` round trips one after another, and a 30 MiB
// picture in 480 chunks of 64 KiB, each sent as base64 in JSON and acknowledged before the next.
// Prints the rates, the context switches of both processes per round trip, the server's peak
// resident memory, the server's processor time per round trip, and a last line "RESULT key=value …" read by bench/anchors/side-by-side.
// Usage: node client.js KEY.pem CERT.pem [--short]
'use strict';
const { spawn } = require('child_process');
const crypto = require('crypto');
const fs = require('fs');
const path = require('path');
const readline = require('readline');
const WebSocket = require('ws');

const [keyFile, certFile, mode] = process.argv.slice(2);
const ROUND_TRIPS = mode === '--short' ? 1000 : 10000;
const PICTURE_BYTES = 30 * 1024 * 1024;
const CHUNK_BYTES = 65536;

function statusField(file, key) {
  const line = fs.readFileSync(file, 'utf8').split('\n').find((l) => l.startsWith(key));
  return line ? parseInt(line.slice(key.length), 10) : 0;
}

function contextSwitches(pid) {
  const tasks = `/proc/${pid}/task`;
  let total = 0;
  for (const task of fs.readdirSync(tasks)) {
    try {
      const status = path.join(tasks, task, 'status');
      total += statusField(status, 'voluntary_ctxt_switches:');
      total += statusField(status, 'nonvoluntary_ctxt_switches:');
    } catch (e) {
      // a thread that ended meanwhile
    }
  }
  return total;
}

// Processor time of every thread of `pid` so far, in nanoseconds.
function processorNanoseconds(pid) {
  const tasks = `/proc/${pid}/task`;
  let total = 0;
  for (const task of fs.readdirSync(tasks)) {
    try {
      total += parseInt(fs.readFileSync(path.join(tasks, task, 'schedstat'), 'utf8').split(' ')[0], 10);
    } catch (e) {
      // a thread that ended meanwhile
    }
  }
  return total;
}

async function main() {
  const server = spawn(process.execPath, [path.join(__dirname, 'server.js'), keyFile, certFile], {
    stdio: ['pipe', 'pipe', 'inherit'],
  });
  const lines = readline.createInterface({ input: server.stdout });
  const port = await new Promise((resolve) => lines.once('line', (l) => resolve(parseInt(l.split(' ')[1], 10))));
  const both = () => contextSwitches(process.pid) + contextSwitches(server.pid);

  const socket = new WebSocket(`wss://127.0.0.1:${port}/`, { rejectUnauthorized: false, perMessageDeflate: false });
  await new Promise((resolve, reject) => { socket.once('open', resolve); socket.once('error', reject); });
  socket._socket.setNoDelay(true);
  let waiting = null;
  socket.on('message', (data) => {
    const reply = JSON.parse(data.toString('utf8'));
    if (!reply.ok) throw new Error('refused');
    const done = waiting;
    waiting = null;
    done();
  });
  const request = (message) => new Promise((resolve) => { waiting = resolve; socket.send(JSON.stringify(message)); });

  let started = process.hrtime.bigint();
  let switches = both();
  const processorStart = processorNanoseconds(server.pid);
  for (let i = 0; i < ROUND_TRIPS; ++i) await request({ v: 1, type: 'text', payload: 'hello from the phone' });
  const textSeconds = Number(process.hrtime.bigint() - started) / 1e9;
  const textSwitches = (both() - switches) / ROUND_TRIPS;
  const serverMicroseconds = (processorNanoseconds(server.pid) - processorStart) / 1000 / ROUND_TRIPS;
  const perSecond = ROUND_TRIPS / textSeconds;
  console.log(`text round trips: ${ROUND_TRIPS} in ${textSeconds.toFixed(3)} s = ${perSecond.toFixed(0)} per second; ${textSwitches.toFixed(2)} context switches each; server processor time ${serverMicroseconds.toFixed(1)} us each`);

  const picture = crypto.randomBytes(PICTURE_BYTES);
  started = process.hrtime.bigint();
  switches = both();
  await request({ v: 1, type: 'image_begin', id: 'bench', format: 'jpeg', size: PICTURE_BYTES });
  for (let index = 0; index * CHUNK_BYTES < PICTURE_BYTES; ++index) {
    const data = picture.subarray(index * CHUNK_BYTES, (index + 1) * CHUNK_BYTES).toString('base64');
    await request({ v: 1, type: 'image_chunk', id: 'bench', index, data });
  }
  await request({ v: 1, type: 'image_end', id: 'bench' });
  const pictureSeconds = Number(process.hrtime.bigint() - started) / 1e9;
  const chunkSwitches = (both() - switches) / 480;
  const peakMiB = statusField(`/proc/${server.pid}/status`, 'VmHWM:') / 1024;
  const mibPerSecond = 30 / pictureSeconds;
  console.log(`picture upload: 30 MiB in 480 chunks, ${pictureSeconds.toFixed(3)} s = ${mibPerSecond.toFixed(0)} MiB/s; ${chunkSwitches.toFixed(2)} context switches per chunk; server peak resident memory ${peakMiB.toFixed(1)} MiB`);
  console.log(`RESULT round_trips_per_s=${perSecond.toFixed(0)} switches_per_round_trip=${textSwitches.toFixed(2)} upload_mib_per_s=${mibPerSecond.toFixed(1)} switches_per_chunk=${chunkSwitches.toFixed(2)} server_peak_rss_mib=${peakMiB.toFixed(1)} server_us_per_round_trip=${serverMicroseconds.toFixed(1)}`);
  socket.close();
  server.stdin.end();
}

main().catch((error) => { console.error(error); process.exit(1); });
