'use strict';
// Debian's Firefox ESR, headless, driven over its own Marionette protocol (no client library, no
// download): one fresh profile per Firefox, removed when it quits.

const { spawn } = require('node:child_process');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');

const FIREFOX = '/usr/bin/firefox-esr';

// Quiet, offline-minded defaults for a test profile; each case adds its own.
const BASE_PREFS = {
  'marionette.port': 0, // any free port, written to MarionetteActivePort in the profile
  'browser.shell.checkDefaultBrowser': false,
  'browser.startup.homepage_override.mstone': 'ignore',
  'browser.startup.page': 0,
  'browser.aboutwelcome.enabled': false,
  'datareporting.policy.dataSubmissionEnabled': false,
  'toolkit.telemetry.reportingpolicy.firstRun': false,
  'app.update.disabledForTesting': true,
  'browser.safebrowsing.update.enabled': false,
  'extensions.update.enabled': false,
  'network.captive-portal-service.enabled': false,
  'network.connectivity-service.enabled': false,
  'services.settings.server': 'data:,',
  'remote.prefs.recommended': true,
};

// Marionette frames every message as "<byte length>:<JSON>".
class Marionette {
  constructor(socket) {
    this.socket = socket;
    this.buffer = Buffer.alloc(0);
    this.waiting = new Map();
    this.nextId = 1;
    this.first = new Promise((resolve) => { this.onFirst = resolve; });
    socket.on('data', (chunk) => this.receive(chunk));
    socket.on('error', () => {});
    socket.on('close', () => {
      for (const { reject } of this.waiting.values()) reject(new Error('Marionette connection closed'));
      this.waiting.clear();
    });
  }

  receive(chunk) {
    this.buffer = Buffer.concat([this.buffer, chunk]);
    for (;;) {
      const colon = this.buffer.indexOf(':');
      if (colon < 0) return;
      const length = Number(this.buffer.subarray(0, colon).toString());
      if (this.buffer.length < colon + 1 + length) return;
      const message = JSON.parse(this.buffer.subarray(colon + 1, colon + 1 + length).toString());
      this.buffer = this.buffer.subarray(colon + 1 + length);
      if (!Array.isArray(message)) { this.onFirst(message); continue; }
      const [, id, error, result] = message;
      const pending = this.waiting.get(id);
      if (!pending) continue;
      this.waiting.delete(id);
      if (error) pending.reject(new Error(`${pending.command}: ${error.error}: ${error.message}`));
      else pending.resolve(result);
    }
  }

  send(command, parameters = {}) {
    const id = this.nextId++;
    const text = Buffer.from(JSON.stringify([0, id, command, parameters]));
    return new Promise((resolve, reject) => {
      this.waiting.set(id, { resolve, reject, command });
      this.socket.write(`${text.length}:`);
      this.socket.write(text);
    });
  }
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// A Firefox still running when this test process exits (a test that timed out, say) goes with it,
// profile and all.
const running = new Set();
process.on('exit', () => {
  for (const firefox of running) {
    firefox.process.kill('SIGKILL');
    fs.rmSync(firefox.profile, { recursive: true, force: true });
  }
});

class Firefox {
  // prefs: added to the profile's user.js; setup(profileFolder): runs before Firefox starts.
  static async launch({ prefs = {}, setup } = {}) {
    const firefox = new Firefox();
    firefox.profile = fs.mkdtempSync(path.join(os.tmpdir(), 'nerova-firefox-'));
    const lines = Object.entries({ ...BASE_PREFS, ...prefs }).map(([name, value]) => `user_pref(${JSON.stringify(name)}, ${JSON.stringify(value)});`);
    fs.writeFileSync(path.join(firefox.profile, 'user.js'), `${lines.join('\n')}\n`);
    if (setup) setup(firefox.profile);
    firefox.process = spawn(FIREFOX, ['--headless', '--marionette', '-remote-allow-system-access', '--no-remote', '--profile', firefox.profile, 'about:blank'], {
      env: { ...process.env, HOME: firefox.profile, MOZ_CRASHREPORTER_DISABLE: '1', XDG_CONFIG_HOME: path.join(firefox.profile, 'xdg') },
      stdio: ['ignore', 'ignore', 'pipe'],
    });
    firefox.stderr = '';
    firefox.process.stderr.on('data', (chunk) => { firefox.stderr += chunk; });
    firefox.exited = new Promise((resolve) => firefox.process.once('exit', resolve));
    running.add(firefox);
    try {
      await firefox.connect();
    } catch (error) {
      await firefox.close();
      throw error;
    }
    return firefox;
  }

  async connect() {
    const portFile = path.join(this.profile, 'MarionetteActivePort');
    const deadline = Date.now() + 60000;
    let port;
    while (!port) {
      if (this.process.exitCode !== null) throw new Error(`Firefox ended early: ${this.stderr}`);
      if (Date.now() > deadline) throw new Error(`Firefox never opened Marionette: ${this.stderr}`);
      try { port = Number(fs.readFileSync(portFile, 'utf8').trim()); } catch { await sleep(50); }
    }
    const socket = net.connect(port, '127.0.0.1');
    await new Promise((resolve, reject) => socket.once('connect', resolve).once('error', reject));
    this.marionette = new Marionette(socket);
    await this.marionette.first;
    await this.marionette.send('WebDriver:NewSession', { capabilities: { alwaysMatch: { timeouts: { script: 60000 } } } });
  }

  async navigate(url) {
    await this.setContext('content');
    return this.marionette.send('WebDriver:Navigate', { url });
  }

  async setContext(context) {
    if (this.context !== context) await this.marionette.send('Marionette:SetContext', { value: context });
    this.context = context;
  }

  // Runs fn(arg) in the page (context 'content') or in the browser's own window ('chrome') and
  // resolves to what it returns (awaited there); a throw there is a rejection here.
  async run(context, fn, arg) {
    await this.setContext(context);
    const script = `const [arg, done] = arguments;
      Promise.resolve().then(() => (${fn})(arg)).then((value) => done({ value }), (error) => done({ error: String(error) }));`;
    const { value } = await this.marionette.send('WebDriver:ExecuteAsyncScript', { script, args: [arg] });
    if (value.error !== undefined) throw new Error(value.error);
    return value.value;
  }

  evaluate(fn, arg) { return this.run('content', fn, arg); }

  chrome(fn, arg) { return this.run('chrome', fn, arg); }

  async close() {
    if (this.marionette) {
      await Promise.race([this.marionette.send('Marionette:Quit', { flags: ['eForceQuit'] }).catch(() => {}), sleep(10000)]);
    }
    if (this.process.exitCode === null && this.process.signalCode === null) {
      const timer = setTimeout(() => this.process.kill('SIGKILL'), 10000);
      await this.exited;
      clearTimeout(timer);
    }
    running.delete(this);
    fs.rmSync(this.profile, { recursive: true, force: true });
  }
}

module.exports = { Firefox };
