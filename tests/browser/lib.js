'use strict';
// Shared by the browser tests: the real program, Debian's Chromium, and small waiting helpers.
// Every test file runs inside the network namespace that ./run makes, so 127.0.0.1:17668 is ours.

const { spawn } = require('node:child_process');
const fs = require('node:fs');
const http = require('node:http');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');
const { chromium } = require('playwright-core');

const REPO = path.resolve(__dirname, '..', '..');
const PORT = 17668;
const ORIGIN = `http://127.0.0.1:${PORT}`;
const PROGRAM = path.resolve(REPO, process.env.NEROVA_BRIDGE || 'build/debug/nerova-bridge');
const ARTIFACTS = path.join(REPO, 'tests', 'artifacts');

if (process.env.NEROVA_IN_NETNS !== '1') {
  throw new Error('browser tests run only inside a network namespace: use tests/browser/run');
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function portOpen() {
  return new Promise((resolve) => {
    const socket = net.connect(PORT, '127.0.0.1');
    socket.once('connect', () => { socket.destroy(); resolve(true); });
    socket.once('error', () => resolve(false));
  });
}

// A program still running when this test process exits (a failed hook, say) goes with it.
const running = new Set();
process.on('exit', () => { for (const child of running) child.kill('SIGKILL'); });

// One running copy of the program with a private APPDATA.
class Bridge {
  constructor() {
    this.home = fs.mkdtempSync(path.join(os.tmpdir(), 'nerova-browser-'));
  }

  async start() {
    this.process = spawn(PROGRAM, [], {
      cwd: this.home,
      env: { ...process.env, APPDATA: path.join(this.home, 'appdata') },
      stdio: ['ignore', 'ignore', 'pipe'],
    });
    const child = this.process;
    running.add(child);
    child.once('exit', () => running.delete(child));
    this.stderr = '';
    this.process.stderr.on('data', (chunk) => { this.stderr += chunk; });
    const exited = new Promise((resolve) => {
      this.process.once('exit', (code, signal) => resolve({ code, signal }));
      this.process.once('error', (error) => resolve({ error: error.message }));
    });
    this.exited = exited;
    const deadline = Date.now() + 20000;
    while (Date.now() < deadline) {
      const early = await Promise.race([exited, sleep(20).then(() => null)]);
      if (early) throw new Error(`program ended early (${JSON.stringify(early)}): ${this.stderr}`);
      if (await portOpen()) return this;
    }
    throw new Error(`program never listened on ${ORIGIN}`);
  }

  token() {
    return fs.readFileSync(path.join(this.home, 'appdata', 'NerovaBridge', 'token.txt'), 'utf8');
  }

  // Ends the program with SIGTERM; resolves to its exit status.
  async stop() {
    if (!this.process || this.process.exitCode !== null || this.process.signalCode !== null) {
      return this.process ? this.process.exitCode : null;
    }
    this.process.kill('SIGTERM');
    const timer = setTimeout(() => this.process.kill('SIGKILL'), 10000);
    const { code } = await this.exited;
    clearTimeout(timer);
    return code;
  }

  async dispose() {
    await this.stop();
    fs.rmSync(this.home, { recursive: true, force: true });
  }
}

function httpGet(route) {
  return new Promise((resolve, reject) => {
    http.get(`${ORIGIN}${route}`, (response) => {
      const chunks = [];
      response.on('data', (chunk) => chunks.push(chunk));
      response.on('end', () => resolve({ status: response.statusCode, headers: response.headers, body: Buffer.concat(chunks) }));
    }).on('error', reject);
  });
}

async function launchBrowser(extraArgs = []) {
  return chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    // playwright gives every launch a fresh temporary --user-data-dir
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', ...extraArgs],
  });
}

// Stands on the program's port in its place and counts what arrives there.
async function countingListener() {
  const seen = { connections: 0, bytes: 0 };
  const sockets = new Set();
  const server = net.createServer((socket) => {
    seen.connections += 1;
    sockets.add(socket);
    socket.on('data', (chunk) => { seen.bytes += chunk.length; });
    socket.on('error', () => {});
    socket.on('close', () => sockets.delete(socket));
  });
  await new Promise((resolve, reject) => server.once('error', reject).listen(PORT, '127.0.0.1', resolve));
  seen.close = () => {
    for (const socket of sockets) socket.destroy();
    return new Promise((resolve) => server.close(resolve));
  };
  return seen;
}

// Opens a WebSocket in the page (a playwright page, or anything with the same evaluate(fn, arg)) and records what happens to it under window.__channels[name].
function openChannel(page, name, url, protocols) {
  return page.evaluate(({ name, url, protocols }) => {
    window.__channels = window.__channels || {};
    const record = { opened: false, errored: false, closed: null, messages: [] };
    const ws = protocols === undefined ? new WebSocket(url) : new WebSocket(url, protocols);
    const started = performance.now();
    ws.onopen = () => { record.opened = true; record.protocol = ws.protocol; record.extensions = ws.extensions; };
    ws.onerror = () => { record.errored = true; };
    ws.onclose = (event) => { record.closed = { code: event.code, wasClean: event.wasClean, at: performance.now() - started }; };
    ws.onmessage = (event) => record.messages.push({ data: event.data, at: performance.now() - started });
    window.__channels[name] = { ws, record };
  }, { name, url, protocols });
}

const channelRecord = (page, name) => page.evaluate((name) => window.__channels[name].record, name);
const channelSend = (page, name, text) => page.evaluate(([name, text]) => window.__channels[name].ws.send(text), [name, text]);
const channelClose = (page, name) => page.evaluate((name) => window.__channels[name].ws.close(1000, 'bye'), name);

// Polls fn until it returns a truthy value; fails with the last value seen.
async function until(fn, { timeout = 5000, interval = 25, what = 'condition' } = {}) {
  const deadline = Date.now() + timeout;
  let last;
  for (;;) {
    last = await fn();
    if (last) return last;
    if (Date.now() > deadline) throw new Error(`timed out after ${timeout} ms waiting for ${what} (last: ${JSON.stringify(last)})`);
    await sleep(interval);
  }
}

// What the seven rows and the dot show, read in one go.
function pageState(page) {
  return page.evaluate(() => {
    const rows = {};
    for (const el of document.querySelectorAll('#rows .value')) {
      rows[el.id] = { text: el.textContent, muted: el.classList.contains('muted') };
    }
    const dot = document.getElementById('dot');
    return { rows, online: dot.classList.contains('online'), dotTitle: dot.title };
  });
}

module.exports = {
  ARTIFACTS, Bridge, ORIGIN, PORT, PROGRAM, REPO, channelClose, channelRecord, channelSend, countingListener, httpGet, launchBrowser,
  openChannel, pageState, sleep, until,
};
