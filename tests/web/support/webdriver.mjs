// A minimal W3C WebDriver client (plain node, global fetch) for
// WebKitWebDriver driving MiniBrowser or the installed program.
import { spawn } from 'node:child_process';
import { createServer } from 'node:net';

const driverBinary = process.env.GLIMMET_WEBDRIVER ?? '/usr/bin/WebKitWebDriver';
const browserBinary = process.env.GLIMMET_MINIBROWSER ?? '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser';

const delay = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function freePort() {
  return new Promise((resolve, reject) => {
    const probe = createServer();
    probe.unref();
    probe.once('error', reject);
    probe.listen(0, '127.0.0.1', () => {
      const { port } = probe.address();
      probe.close(() => resolve(port));
    });
  });
}

// The error's code is WebDriver's (`no such element` …): the page retries some.
const failure = (command, value) =>
  Object.assign(new Error(`${command}: ${value?.error ?? 'error'}: ${value?.message ?? JSON.stringify(value)}`), {
    code: value?.error,
  });

export class Driver {
  static async start() {
    if (!process.env.DISPLAY) throw new Error('no DISPLAY: run the page tests under tests/platform/gtk/with-display.sh');
    const port = await freePort();
    const child = spawn(driverBinary, [`--port=${port}`, '--host=local'], { stdio: ['ignore', 'ignore', 'pipe'] });
    let log = '';
    child.stderr.on('data', (data) => (log = (log + data).slice(-4000)));
    // The driver must not keep the test process alive; shutdown() ends it.
    child.unref();
    child.stderr.unref?.();
    const driver = new Driver(child, `http://127.0.0.1:${port}`);
    for (let tries = 0; ; tries++) {
      if (child.exitCode !== null) throw new Error(`WebKitWebDriver exited: ${log}`);
      try {
        const status = await driver.command('GET', '/status');
        if (status?.ready !== false) return driver;
      } catch (error) {
        if (tries > 100) throw error;
      }
      await delay(50);
    }
  }

  constructor(child, base) {
    this.child = child;
    this.base = base;
  }

  async command(method, path, body) {
    const response = await fetch(this.base + path, {
      method,
      headers: body === undefined ? {} : { 'content-type': 'application/json; charset=utf-8' },
      body: body === undefined ? undefined : JSON.stringify(body),
    });
    const { value } = await response.json().catch(() => ({ value: { message: `HTTP ${response.status}, no JSON` } }));
    if (!response.ok) throw failure(`${method} ${path}`, value);
    return value;
  }

  // browserArgs: MiniBrowser's --dark-mode, --bg-color=…; browser: another WebKitGTK
  // program that supports automation, such as the installed Glimmet.
  async newSession(browserArgs = [], browser = { name: 'MiniBrowser', binary: browserBinary }) {
    const value = await this.command('POST', '/session', {
      capabilities: {
        alwaysMatch: {
          browserName: browser.name,
          'webkitgtk:browserOptions': { binary: browser.binary, args: ['--automation', ...browserArgs] },
        },
      },
    });
    const session = new Session(this, value.sessionId);
    await session.command('POST', '/timeouts', { script: 30000, pageLoad: 30000, implicit: 0 });
    return session;
  }

  async shutdown() {
    if (this.child.exitCode !== null) return;
    const exited = new Promise((resolve) => this.child.once('exit', resolve));
    this.child.kill('SIGTERM');
    await Promise.race([exited, delay(2000)]);
    if (this.child.exitCode === null) this.child.kill('SIGKILL');
  }
}

// One browser window. Page drives elements through command() directly.
class Session {
  constructor(driver, id) {
    this.driver = driver;
    this.id = id;
  }

  command(method, path, body) {
    return this.driver.command(method, `/session/${this.id}${path}`, body);
  }

  navigate(url) {
    return this.command('POST', '/url', { url });
  }

  // Runs a function body in the page; `arguments` holds args.
  execute(script, args = []) {
    return this.command('POST', '/execute/sync', { script, args });
  }

  // The W3C reference of the first element the selector matches.
  async findElement(selector) {
    const value = await this.command('POST', '/element', { using: 'css selector', value: selector });
    return value['element-6066-11e4-a52e-4f735466cecf'];
  }

  close() {
    return this.command('DELETE', '');
  }
}
