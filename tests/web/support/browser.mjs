// MiniBrowser windows for the page tests. WebKitWebDriver runs one session at
// a time, so each window has its own driver. Windows are pooled per colour
// scheme so the tests of one file reuse a browser instead of starting one each
// (about a second apiece); all of them end when the process has nothing else
// left to do.
import { Driver } from './webdriver.mjs';

// The panel's viewport in CSS px.
export const panelWidth = 748;
export const panelHeight = 780;

// What lies behind the transparent page: a plain desktop-like backdrop, so
// screenshots show the island as it would look over other windows.
export const backdrop = { light: '#c9d0d8', dark: '#24272c' };

const idle = { light: [], dark: [] };
const drivers = new Set();

async function viewSize(session) {
  // The window manager applies a new size a little later: wait until the
  // view's size holds still.
  let last = null;
  for (let tries = 0; tries < 20; tries++) {
    const size = (await session.execute('return [innerWidth, innerHeight];')).join('x');
    if (size === last) break;
    last = size;
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  return last.split('x').map(Number);
}

async function fitViewport(session) {
  // MiniBrowser draws a tool bar above the view: grow the window by the
  // difference until the view itself is the panel's size.
  let rect = { width: panelWidth, height: panelHeight };
  for (let attempt = 0; attempt < 5; attempt++) {
    await session.windowRect(rect);
    const [width, height] = await viewSize(session);
    if (width === panelWidth && height === panelHeight) return;
    rect = { width: rect.width + panelWidth - width, height: rect.height + panelHeight - height };
  }
  const [width, height] = await viewSize(session);
  throw new Error(`cannot size the MiniBrowser view to the panel (${width}×${height})`);
}

// A browser window in the given colour scheme ('light' or 'dark'), its view
// sized to the panel. Hand it back with releaseSession().
export async function acquireSession(colorScheme = 'light') {
  if (!(colorScheme in backdrop)) throw new TypeError(`unknown colorScheme ${colorScheme}`);
  const reused = idle[colorScheme].pop();
  if (reused) return reused;
  const args = [`--bg-color=${backdrop[colorScheme]}`];
  if (colorScheme === 'dark') args.push('--dark-mode');
  const driver = await Driver.start();
  drivers.add(driver);
  try {
    const session = await driver.newSession(args);
    session.colorScheme = colorScheme;
    await session.navigate('about:blank');
    await fitViewport(session);
    return session;
  } catch (error) {
    await stop(driver);
    throw error;
  }
}

export async function releaseSession(session) {
  try {
    await session.navigate('about:blank');
    idle[session.colorScheme].push(session);
  } catch {
    // A window that can no longer navigate is not reused.
    await session.close().catch(() => {});
    await stop(session.driver);
  }
}

async function stop(driver) {
  drivers.delete(driver);
  await driver.shutdown();
}

async function shutdown() {
  const sessions = [...idle.light, ...idle.dark];
  idle.light.length = 0;
  idle.dark.length = 0;
  await Promise.all(sessions.map((session) => session.close().catch(() => {})));
  await Promise.all([...drivers].map(stop));
}

// 'beforeExit' comes once the test runner is done with this process; the
// async clean-up then runs and the event fires again with nothing to do.
process.on('beforeExit', () => {
  if (drivers.size > 0) shutdown();
});
// Last resort when the process ends abruptly: each driver takes its browser along.
process.on('exit', () => {
  for (const driver of drivers) driver.child.kill('SIGKILL');
});
