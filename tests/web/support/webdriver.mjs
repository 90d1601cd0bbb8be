// A minimal W3C WebDriver client for WebKitWebDriver driving MiniBrowser.
// Plain node (global fetch), no packages. One Driver process serves any
// number of sessions; each Session is one MiniBrowser window.
import { spawn } from 'node:child_process';
import { createServer } from 'node:net';

const driverBinary = process.env.GLIMMET_WEBDRIVER ?? '/usr/bin/WebKitWebDriver';
const browserBinary = process.env.GLIMMET_MINIBROWSER ?? '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser';

// The W3C key under which a web element reference travels.
const elementKey = 'element-6066-11e4-a52e-4f735466cecf';

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

class WebDriverError extends Error {
  constructor(command, value) {
    super(`${command}: ${value?.error ?? 'error'}: ${value?.message ?? JSON.stringify(value)}`);
    this.code = value?.error;
  }
}

export class Driver {
  static async start() {
    if (!process.env.DISPLAY) {
      throw new Error('no DISPLAY: run the page tests under tests/platform/gtk/with-display.sh');
    }
    const port = await freePort();
    const child = spawn(driverBinary, [`--port=${port}`, '--host=local'], { stdio: ['ignore', 'ignore', 'pipe'] });
    let log = '';
    child.stderr.on('data', (data) => {
      log = (log + data).slice(-4000);
    });
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
    const text = await response.text();
    let parsed;
    try {
      parsed = JSON.parse(text);
    } catch {
      throw new WebDriverError(`${method} ${path}`, { message: text });
    }
    if (!response.ok) throw new WebDriverError(`${method} ${path}`, parsed.value);
    return parsed.value;
  }

  // browserArgs: extra switches (MiniBrowser's --dark-mode, --bg-color=…).
  // browser: another WebKitGTK program that supports automation, such as the
  // installed Glimmet ({ name: 'glimmet', binary }).
  async newSession(browserArgs = [], browser = { name: 'MiniBrowser', binary: browserBinary }) {
    const value = await this.command('POST', '/session', {
      capabilities: {
        alwaysMatch: {
          browserName: browser.name,
          'webkitgtk:browserOptions': {
            binary: browser.binary,
            args: ['--automation', ...browserArgs],
          },
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

export class Session {
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

  setWindowRect(rect) {
    return this.command('POST', '/window/rect', rect);
  }

  // Runs a function body in the page; `arguments` holds args.
  execute(script, args = []) {
    return this.command('POST', '/execute/sync', { script, args });
  }

  // Runs a function body whose last argument is the callback to finish with.
  executeAsync(script, args = []) {
    return this.command('POST', '/execute/async', { script, args });
  }

  async findElement(selector) {
    const value = await this.command('POST', '/element', { using: 'css selector', value: selector });
    return value[elementKey];
  }

  click(element) {
    return this.command('POST', `/element/${element}/click`, {});
  }

  clear(element) {
    return this.command('POST', `/element/${element}/clear`, {});
  }

  sendKeys(element, text) {
    return this.command('POST', `/element/${element}/value`, { text });
  }

  // Keys sent to whatever has focus (Escape, Tab …) as one key action sequence.
  pressKeys(keys) {
    const actions = [];
    for (const key of keys) actions.push({ type: 'keyDown', value: key }, { type: 'keyUp', value: key });
    return this.command('POST', '/actions', { actions: [{ type: 'key', id: 'keyboard', actions }] });
  }

  // Base64 PNG of the viewport.
  screenshot() {
    return this.command('GET', '/screenshot');
  }

  close() {
    return this.command('DELETE', '');
  }
}
