// The page under test in real WebKitGTK: openPage() serves web/ from a
// loopback server with the program's bridge script and a scripted native
// side injected, opens it in MiniBrowser (driven by WebKitWebDriver) with the
// panel's 748×780 viewport, and hands back a Page to drive and inspect it.
// See tests/web/README.md.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';

import { acquireSession, releaseSession } from './browser.mjs';
import { replyTable } from './replies.mjs';
import { startServer } from './server.mjs';

export { configuredStatus, inventory, missingAgent, readyCodex, work } from './replies.mjs';

const repository = fileURLToPath(new URL('../../../', import.meta.url));
export const webRoot = process.env.GLIMMET_WEB_DIR ?? join(repository, 'web');
const harnessPath = process.env.GLIMMET_HARNESS ?? join(repository, 'build', 'tools', 'glimmet-harness');
const screenshotDir = process.env.GLIMMET_WEB_SCREENSHOTS ?? '/tmp/web-screenshots';

const defaultTimeout = 10000;
const transientRefusals = new Set([
  'element click intercepted',
  'element not interactable',
  'stale element reference',
  'no such element',
]);
const bridgeScripts = new Map();

// The bridge script exactly as the program injects it with these switches.
export function bridgeScript(switches = []) {
  const key = switches.join('\n');
  if (!bridgeScripts.has(key)) {
    const text = execFileSync(harnessPath, ['--print-bridge-script', ...switches], { input: '', encoding: 'utf8', timeout: 20000 });
    if (!text.includes('window.plumora')) throw new Error(`${harnessPath} printed no bridge script`);
    bridgeScripts.set(key, text);
  }
  return bridgeScripts.get(key);
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Runs `body` (an async function body; `args` is its argument list) in the
// page and returns its JSON-cloned result.
async function run(session, body, args = []) {
  const script = `const done = arguments[arguments.length - 1];
    const args = Array.prototype.slice.call(arguments, 0, -1);
    (async (...args) => { ${body} })(...args).then(
      (v) => done({ ok: v === undefined ? undefined : JSON.stringify(v) }),
      (e) => done({ error: e instanceof Error ? e.name + ': ' + e.message : String(e) }));`;
  const result = await session.executeAsync(script, args);
  if (result?.error !== undefined) throw new Error(`in page: ${result.error}`);
  return result?.ok === undefined ? undefined : JSON.parse(result.ok);
}

const visibleCheck = `const element = document.querySelector(args[0]);
  if (!element) return false;
  const box = element.getBoundingClientRect();
  return box.width > 0 && box.height > 0 && getComputedStyle(element).visibility !== 'hidden';`;

// The element's box is the same two frames apart.
const settledCheck = `const element = document.querySelector(args[0]);
  if (!element) return false;
  const box = () => JSON.stringify(element.getBoundingClientRect());
  const before = box();
  await new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve)));
  return box() === before;`;

// A page driven through a WebDriver session: real pointer clicks and key
// presses, waits, evaluation. The end-to-end test drives the installed
// program's own page with it.
export class PageSession {
  constructor(session) {
    this.session = session;
  }

  // Acts on the element once it is visible. While the island animates, an
  // element can be covered, not yet interactable or replaced for a moment:
  // such refusals are retried until the time-out.
  async withElement(selector, action) {
    const deadline = Date.now() + defaultTimeout;
    for (;;) {
      await this.waitFor(selector, Math.max(deadline - Date.now(), 0));
      try {
        return await action(await this.session.findElement(selector));
      } catch (error) {
        if (!transientRefusals.has(error.code) || Date.now() > deadline) throw error;
      }
      await sleep(50);
    }
  }

  // A real pointer click in the middle of the element, once it has stopped
  // moving (the island grows and shrinks with a transition).
  async click(selector) {
    await this.waitFor(() => run(this.session, settledCheck, [selector]));
    await this.withElement(selector, (element) => this.session.click(element));
  }

  // Types text as key presses into the element (after what it holds).
  async type(selector, text) {
    await this.withElement(selector, (element) => this.session.sendKeys(element, text));
  }

  // Clears the field first, then types.
  async fill(selector, text) {
    await this.withElement(selector, async (element) => {
      await this.session.clear(element);
      await this.session.sendKeys(element, text);
    });
  }

  // Presses keys on whatever has focus: page.press('\uE00C') is Escape, '\uE004' Tab.
  async press(...keys) {
    await this.session.pressKeys(keys);
  }

  // The element's rendered text (innerText), trimmed.
  async text(selector) {
    const text = await this.eval(`document.querySelector(${JSON.stringify(selector)})?.innerText ?? null`);
    if (text === null) throw new Error(`no element ${selector}`);
    return text.trim();
  }

  // Waits until a selector matches a visible element, or until an async
  // predicate (run here, in node) returns something truthy, which it returns.
  async waitFor(condition, timeoutMs = defaultTimeout) {
    const deadline = Date.now() + timeoutMs;
    for (;;) {
      const value = typeof condition === 'function' ? await condition() : await run(this.session, visibleCheck, [condition]);
      if (value) return value;
      if (Date.now() > deadline) {
        const what = typeof condition === 'function' ? condition.toString() : `visible ${condition}`;
        // The page's own faults are the likeliest reason; name them.
        const errors = await this.errors().catch(() => []);
        const faults = errors.length > 0 ? `; page errors: ${errors.join(' | ')}` : '';
        throw new Error(`timed out after ${timeoutMs} ms waiting for ${what}${faults}`);
      }
      await sleep(40);
    }
  }

  // Evaluates a JavaScript expression in the page (promises are awaited).
  async eval(expression) {
    return run(this.session, `return (${expression});`);
  }

  // The page's own faults seen so far; none known without the scripted native side.
  async errors() {
    return [];
  }
}

class Page extends PageSession {
  constructor(session, server) {
    super(session);
    this.server = server;
  }

  // Changes the scripted answer for later calls of the action, reloads included.
  async reply(action, reply) {
    this.server.state.replies[action] = reply;
    await run(this.session, 'window.__plumoraFake.reply(...args);', [action, reply]);
  }

  // The values posted so far for the action, oldest first.
  async calls(action) {
    return run(this.session, 'return window.__plumoraFake.calls(args[0]).map((c) => c.value);', [action]);
  }

  // Answers the oldest held call of the action, waiting for one to arrive.
  async answer(action, reply) {
    await this.waitFor(() => run(this.session, 'return window.__plumoraFake.answer(...args);', [action, reply]));
  }

  // Dispatches a native event; without detail a plain Event.
  async emit(name, detail) {
    await run(this.session, 'window.__plumoraFake.emit(...args);', detail === undefined ? [name] : [name, detail]);
  }

  // Script errors, failed resource loads and unhandled rejections in the
  // page, and paths the server could not find.
  async errors() {
    const inPage = await run(this.session, 'return window.__plumoraFake.errors();');
    return [...inPage, ...this.server.state.missing.map((path) => `404 ${path}`)];
  }

  // Loads the page again (localStorage stays; recorded calls start over).
  async reload() {
    await this.session.navigate(`${this.server.origin}/index.html`);
  }

  // Saves the viewport as <screenshot dir>/<name>.png and returns the path.
  async screenshot(name) {
    mkdirSync(screenshotDir, { recursive: true });
    const file = join(screenshotDir, `${name}.png`);
    writeFileSync(file, Buffer.from(await this.session.screenshot(), 'base64'));
    return file;
  }

  async close() {
    await releaseSession(this.session);
    await this.server.close();
  }
}

// options: colorScheme 'light' | 'dark'; localStorage {key: value} set before
// the page's scripts run; replies {action: reply} over the defaults;
// switches: program switches the bridge script is printed for
// (e.g. ['--preview-smoke-test']).
export async function openPage({ colorScheme = 'light', localStorage = {}, replies = {}, switches = [] } = {}) {
  const server = await startServer({ webRoot, bridgeScript: bridgeScript(switches), replies: replyTable(replies), localStorage });
  let session;
  try {
    session = await acquireSession(colorScheme);
    await session.navigate(`${server.origin}/index.html`);
    return new Page(session, server);
  } catch (error) {
    if (session) await releaseSession(session);
    await server.close();
    throw error;
  }
}

// The page past the first-run guide with its island up, closed when test `t`
// ends; with `surface`, that surface opened from the island.
export async function openIsland(t, { surface, ...options } = {}) {
  const page = await openPage({ localStorage: { 'plumora-onboarding-v2': 'skipped' }, ...options });
  t.after(() => page.close());
  await page.waitFor('[data-test="island"]');
  if (surface) {
    await page.click('[data-test="island-open"]');
    await page.click(`[data-test="nav-${surface}"]`);
  }
  return page;
}

// Waits for an element's text; the island animates in, and its text reads
// as empty until it has. On time-out the assertion shows the last text.
export async function expectText(page, selector, expected, timeoutMs = 3000) {
  const deadline = Date.now() + timeoutMs;
  let actual;
  do {
    actual = await page.text(selector).catch(() => null);
    if (actual === expected) return;
    await sleep(50);
  } while (Date.now() < deadline);
  assert.equal(actual, expected, selector);
}
