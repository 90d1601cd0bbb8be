// The page under test in MiniBrowser, served from a loopback server with the
// program's bridge script and a scripted native side; see tests/web/README.md.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';

import { acquireSession, releaseSession } from './browser.mjs';
import { replyTable } from './replies.mjs';
import { startServer } from './server.mjs';

export { configuredStatus, inventory, work } from './replies.mjs';

const repository = fileURLToPath(new URL('../../../', import.meta.url));
export const webRoot = process.env.GLIMMET_WEB_DIR ?? join(repository, 'web');
const harnessPath = process.env.GLIMMET_HARNESS ?? join(repository, 'build', 'tools', 'glimmet-harness');
const screenshotDir = process.env.GLIMMET_WEB_SCREENSHOTS ?? '/tmp/web-screenshots';

const defaultTimeout = 10000;
const transientRefusals = new Set(['element click intercepted', 'element not interactable', 'stale element reference', 'no such element']);

// The bridge script exactly as the program injects it with these switches.
export function bridgeScript(switches = []) {
  const text = execFileSync(harnessPath, ['--print-bridge-script', ...switches], { input: '', encoding: 'utf8', timeout: 20000 });
  if (!text.includes('window.plumora')) throw new Error(`${harnessPath} printed no bridge script`);
  return text;
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
  const result = await session.command('POST', '/execute/async', { script, args });
  if (result?.error !== undefined) throw new Error(`in page: ${result.error}`);
  return result?.ok === undefined ? undefined : JSON.parse(result.ok);
}

const visibleCheck = `const element = document.querySelector(args[0]);
  if (!element) return false;
  const box = element.getBoundingClientRect();
  return box.width > 0 && box.height > 0 && getComputedStyle(element).visibility !== 'hidden';`;

const settledCheck = `const element = document.querySelector(args[0]);
  if (!element) return false;
  const box = () => JSON.stringify(element.getBoundingClientRect());
  const before = box();
  await new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve)));
  return box() === before;`;

// A page driven through a WebDriver session; the end-to-end test drives the
// installed program's own page with it.
export class PageSession {
  constructor(session) {
    this.session = session;
  }

  // A WebDriver command on the element once it is visible: `click`, `clear`,
  // `value` (keys). While the island animates, an element can be covered, not
  // yet interactable or replaced for a moment: such refusals are retried.
  async act(selector, verb, body = {}) {
    const deadline = Date.now() + defaultTimeout;
    for (;;) {
      await this.waitFor(selector, Math.max(deadline - Date.now(), 0));
      try {
        const element = await this.session.findElement(selector);
        return await this.session.command('POST', `/element/${element}/${verb}`, body);
      } catch (error) {
        if (!transientRefusals.has(error.code) || Date.now() > deadline) throw error;
      }
      await sleep(50);
    }
  }

  // A real pointer click, once the element has stopped moving (its box is the
  // same two frames apart: the island grows and shrinks with a transition).
  async click(selector) {
    await this.waitFor(() => run(this.session, settledCheck, [selector]));
    await this.act(selector, 'click');
  }

  // Key presses into the element, after what it holds.
  type(selector, text) {
    return this.act(selector, 'value', { text });
  }

  async fill(selector, text) {
    await this.act(selector, 'clear');
    await this.type(selector, text);
  }

  // Keys to whatever has focus, as one key action sequence ('\uE00C' Escape, '\uE007' Enter).
  press(...keys) {
    const actions = keys.flatMap((key) => [{ type: 'keyDown', value: key }, { type: 'keyUp', value: key }]);
    return this.session.command('POST', '/actions', { actions: [{ type: 'key', id: 'keyboard', actions }] });
  }

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
      const value = typeof condition === 'function' ? await condition() : await this.visible(condition);
      if (value) return value;
      if (Date.now() > deadline) {
        const what = typeof condition === 'function' ? condition.toString() : `visible ${condition}`;
        // The page's own faults (known with the scripted native side) are the likeliest reason.
        const errors = (await this.errors?.().catch(() => [])) ?? [];
        const faults = errors.length > 0 ? `; page errors: ${errors.join(' | ')}` : '';
        throw new Error(`timed out after ${timeoutMs} ms waiting for ${what}${faults}`);
      }
      await sleep(40);
    }
  }

  visible(selector) {
    return run(this.session, visibleCheck, [selector]);
  }

  // Until the island has stopped growing or shrinking.
  settled() {
    return this.waitFor(() => this.eval(`document.querySelector('[data-test="island"]')?.getAnimations().length === 0`));
  }

  // Evaluates a JavaScript expression in the page (promises are awaited).
  async eval(expression) {
    return run(this.session, `return (${expression});`);
  }
}

class Page extends PageSession {
  constructor(session, server) {
    super(session);
    this.server = server;
  }

  // For later calls of the action, reloads included.
  async reply(action, reply) {
    this.server.state.replies[action] = reply;
    await run(this.session, 'window.__plumoraFake.reply(...args);', [action, reply]);
  }

  async calls(action) {
    return run(this.session, 'return window.__plumoraFake.calls(args[0]).map((c) => c.value);', [action]);
  }

  // Answers the oldest held call of the action, waiting for one to arrive.
  async answer(action, reply) {
    await this.waitFor(() => run(this.session, 'return window.__plumoraFake.answer(...args);', [action, reply]));
  }

  async emit(name, detail) {
    await run(this.session, 'window.__plumoraFake.emit(...args);', detail === undefined ? [name] : [name, detail]);
  }

  // The page's faults (see fake-native.js) and paths the server could not find.
  async errors() {
    const inPage = await run(this.session, 'return window.__plumoraFake.errors();');
    return [...inPage, ...this.server.state.missing.map((path) => `404 ${path}`)];
  }

  // localStorage stays; recorded calls start over.
  async reload() {
    await this.session.navigate(`${this.server.origin}/index.html`);
  }

  async screenshot(name) {
    mkdirSync(screenshotDir, { recursive: true });
    const file = join(screenshotDir, `${name}.png`);
    writeFileSync(file, Buffer.from(await this.session.command('GET', '/screenshot'), 'base64'));
    return file;
  }

  async close() {
    await releaseSession(this.session);
    await this.server.close();
  }
}

// localStorage is set before the page's scripts run, replies go over the
// defaults, switches are the program's the bridge script is printed for.
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

// Waits for an element's text (it reads as empty while the island animates
// in); on time-out the assertion shows the last text.
export async function expectText(page, selector, expected, timeoutMs = 3000) {
  let actual;
  await page.waitFor(async () => (actual = await page.text(selector).catch(() => null)) === expected, timeoutMs).catch(() => {});
  assert.equal(actual, expected, selector);
}
