// MiniBrowser windows for the page tests, one driver each (WebKitWebDriver
// runs one session at a time), pooled per colour scheme so the tests of one
// file reuse them; all end when the process has nothing else left to do.
import { Driver } from './webdriver.mjs';

const panelWidth = 748;
const panelHeight = 780;

// Behind the transparent page, so screenshots show the island as over other windows.
const backdrop = { light: '#c9d0d8', dark: '#24272c' };

const idle = { light: [], dark: [] };
const drivers = new Set();

// The window manager applies a new size a little later: until it holds still.
async function viewSize(session) {
  let last = null;
  for (let tries = 0; tries < 20; tries++) {
    const size = (await session.execute('return [innerWidth, innerHeight];')).join('x');
    if (size === last) break;
    last = size;
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  return last.split('x').map(Number);
}

// MiniBrowser draws a tool bar above the view: grow the window by the
// difference until the view itself is the panel's size.
async function fitViewport(session) {
  let rect = { width: panelWidth, height: panelHeight };
  for (let attempt = 0; attempt < 5; attempt++) {
    await session.command('POST', '/window/rect', rect);
    const [width, height] = await viewSize(session);
    if (width === panelWidth && height === panelHeight) return;
    rect = { width: rect.width + panelWidth - width, height: rect.height + panelHeight - height };
  }
  throw new Error(`cannot size the MiniBrowser view to the panel (${await viewSize(session)})`);
}

async function stop(driver) {
  drivers.delete(driver);
  await driver.shutdown();
}

// A window in the colour scheme, its view sized to the panel; hand it back with releaseSession().
export async function acquireSession(colorScheme) {
  const reused = idle[colorScheme].pop();
  if (reused) return reused;
  const driver = await Driver.start();
  drivers.add(driver);
  try {
    const session = await driver.newSession([`--bg-color=${backdrop[colorScheme]}`, ...(colorScheme === 'dark' ? ['--dark-mode'] : [])]);
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

// Once the test runner is done ('beforeExit' fires again after the async clean-up).
process.on('beforeExit', async () => {
  if (drivers.size === 0) return;
  const sessions = [...idle.light.splice(0), ...idle.dark.splice(0)];
  await Promise.all(sessions.map((session) => session.close().catch(() => {})));
  await Promise.all([...drivers].map(stop));
});
// Last resort when the process ends abruptly: each driver takes its browser along.
process.on('exit', () => {
  for (const driver of drivers) driver.child.kill('SIGKILL');
});
