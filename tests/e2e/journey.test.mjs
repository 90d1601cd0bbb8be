// Glimmet as a user meets it: the installed program under a window manager
// with a tray, its own keyring and a loopback HTTPS image service; the page
// driven through WebDriver, the desktop through XTest keys, results checked
// on disk. Screenshots of the whole screen go to GLIMMET_E2E_SCREENSHOTS.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { chmodSync, existsSync, mkdirSync, readdirSync, readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, test } from 'node:test';

import { gradientPng } from '../web/support/png.mjs';
import {
  configureService, imageService, launch, navigate, running, selectText, sleep, start, stopAll, until, workDirectory,
  xdotool,
} from './desktop.mjs';

const program = process.env.GLIMMET_PROGRAM;
const shots = process.env.GLIMMET_E2E_SCREENSHOTS ?? '/tmp/e2e-screenshots';
const dataHome = process.env.XDG_DATA_HOME;
const library = join(dataHome, 'Plumora', 'history');
after(stopAll);

// Once the island has settled and the panel has followed.
async function screenshot(page, name) {
  await page.settled();
  await sleep(300);
  mkdirSync(shots, { recursive: true });
  execFileSync(process.env.GLIMMET_SCREEN_SHOT, [join(shots, `${name}.png`)]);
}

// A Codex CLI on the program's PATH that is logged in and draws one image.
function fakeCodex() {
  const bin = join(workDirectory, 'bin');
  mkdirSync(bin, { recursive: true });
  writeFileSync(join(workDirectory, 'codex.png'), gradientPng(32, 32, 7));
  writeFileSync(join(bin, 'codex'), `#!/bin/sh
case "$1" in
  --version) echo 'codex-cli 0.160.0'; exit 0 ;;
  login) echo 'Logged in using ChatGPT'; exit 0 ;;
  features) echo 'image_generation stable true'; exit 0 ;;
esac
[ "$2" = --help ] && { echo '--image <FILE>'; exit 0; }
cat >/dev/null
while [ "$1" != -C ]; do shift; done
echo '{"type":"thread.started","thread_id":"019b776b-15ea-722b-a96b-123456789abc"}'
mkdir -p "$2/generated_images" && cp '${join(workDirectory, 'codex.png')}' "$2/generated_images/out.png"
`);
  chmodSync(join(bin, 'codex'), 0o755);
  return bin;
}

// Picks a generation method in the native pop-up menu; the first Down enters
// it at its first row, the image service.
async function chooseProvider(page, keys, name) {
  await page.click('[data-test="provider"]');
  await sleep(500);
  xdotool('key', ...keys, 'Return');
  await page.waitFor(async () => (await page.text('[data-test="provider"]')).includes(name));
}

// Each work is a directory with its record; nothing else is left behind.
function works() {
  if (!existsSync(library)) return [];
  return readdirSync(library).map((name) => {
    const record = join(library, name, 'record.json');
    return { name, record: existsSync(record) ? JSON.parse(readFileSync(record, 'utf8')) : null };
  });
}

process.env.PATH = `${fakeCodex()}:${process.env.PATH}`;
const service = await imageService();

test('install, configure, capture, generate, keep, rename, trash, quit, start again', async () => {
  start('openbox', ['--sm-disable']);
  start('trayer', ['--expand', 'false', '--widthtype', 'request', '--edge', 'top', '--align', 'right',
    '--SetDockType', 'true', '--SetPartialStrut', 'true']);
  await sleep(500);

  let { driver, page, pid } = await launch(program);
  await page.waitFor('[data-test="onboarding-step-shortcut"]');
  await screenshot(page, '01-onboarding');
  await page.click('[data-test="onboarding-skip"]');

  // The image service, its key into the keyring.
  await configureService(page, service);

  // Text selected in another application, then the global shortcut.
  await selectText('海边的灯塔，黄昏');
  xdotool('key', 'ctrl+p');
  // The ring of actions at the pointer: 1 sends the text as it is.
  await sleep(700);
  await screenshot(page, '02-radial');
  xdotool('key', '1');
  await page.waitFor(async () => (await page.eval(`document.querySelector('[data-test="prompt"]')?.value`)) ===
    '海边的灯塔，黄昏');

  await page.click('[data-test="generate"]');
  await page.waitFor('[data-test="result-image"]');
  await page.waitFor(async () => (await page.text('[data-test="result-save"]')) === '已保存到作品库');
  await screenshot(page, '03-result');
  assert.equal(service.requests.length, 1);
  assert.equal(service.requests[0].authorization, 'Bearer sk-journey');
  assert.match(JSON.parse(service.requests[0].body).prompt, /海边的灯塔，黄昏/);
  let saved = works();
  assert.equal(saved.length, 1);
  const first = saved[0].name;

  // The library: rename the work, then move it to the Trash.
  await navigate(page, 'library');
  const tile = `[data-test="library-tile"][data-id="${first}"]`;
  await page.click(`${tile} [data-test="library-tile-more"]`);
  await page.click(`${tile} [data-test="library-rename"]`);
  await page.type('[data-test="library-rename-input"]', '黄昏灯塔');
  await page.press('\uE007');
  await page.waitFor(async () => (await page.text(`${tile} [data-test="library-tile-title"]`)) === '黄昏灯塔');
  assert.equal(works()[0].record.prompt !== undefined, true);
  await page.click('[data-test="library-select"]');
  await page.click(`${tile} [data-test="library-tile-open"]`);
  await page.click('[data-test="library-trash"]');
  await until(() => works().length === 0, 'the work to leave the library');
  const trashInfo = readdirSync(join(dataHome, 'Trash', 'info'));
  assert.equal(trashInfo.length, 1);
  assert.match(readFileSync(join(dataHome, 'Trash', 'info', trashInfo[0]), 'utf8'), /^\[Trash Info\]\nPath=/);

  // Once more through the Codex CLI on this machine, chosen in the native
  // pop-up menu of generation methods.
  await navigate(page, 'creation');
  await page.fill('[data-test="prompt"]', '月光下的灯塔');
  await chooseProvider(page, ['Down', 'Down'], 'Codex');
  await page.click('[data-test="generate"]');
  await page.waitFor(async () => (await page.text('[data-test="result-save"]')) === '已保存到作品库', 30000);
  await screenshot(page, '04-codex-result');
  saved = works();
  assert.equal(saved.length, 1);
  assert.equal(saved[0].record.provider, 'codex');

  // The tray sits in the screen's top right corner and holds one icon; the
  // last item of its menu is "退出 Glimmet".
  const [width] = xdotool('getdisplaygeometry').split(' ').map(Number);
  xdotool('mousemove', String(width - 10), '11', 'click', '3');
  await sleep(500);
  await screenshot(page, '05-tray-menu');
  xdotool('key', 'Up', 'Return');
  await until(() => !running(pid), 'the program to quit');
  await driver.shutdown();

  // Started again: the library and the service's settings are as they were,
  // and the key comes back from the keyring for a connection check.
  ({ driver, page, pid } = await launch(program));
  await page.waitFor('[data-test="island"]');
  assert.equal(await page.eval(`document.querySelector('[data-test="onboarding"]')?.hidden ?? true`), true);
  await navigate(page, 'library');
  await page.waitFor(`[data-test="library-tile"][data-id="${saved[0].name}"]`);
  await navigate(page, 'settings');
  await page.click('[data-test="settings-tab-api"]');
  // A generation that succeeded verified the service.
  await page.waitFor(async () => (await page.text('[data-test="api-state"]')) === '已验证');
  assert.equal(await page.eval(`document.querySelector('[data-test="api-base-url"]').value`), service.url);
  const asked = service.requests.length;
  await page.click('[data-test="api-check"]');
  await until(() => service.requests.length > asked, 'the connection check');
  assert.equal(service.requests.at(-1).authorization, 'Bearer sk-journey');
  process.kill(pid, 'SIGTERM');
  await until(() => !running(pid), 'the program to stop');
  await driver.shutdown();
  assert.deepEqual(works(), saved);
});

test('a program killed in the middle of a save leaves no half-written work behind', async () => {
  service.size = 1536;
  const asked = service.requests.length;
  const before = new Set(works().map((entry) => entry.name));
  let { driver, page, pid } = await launch(program);
  await navigate(page, 'creation');
  await page.fill('[data-test="prompt"]', '很大的一张图');
  await chooseProvider(page, ['Down'], '图片服务');
  await page.click('[data-test="generate"]');
  // The save starts with the work's directory: kill the program the moment it appears.
  await until(() => works().some((entry) => !before.has(entry.name)), 'the save to start', 60000);
  process.kill(pid, 'SIGKILL');
  await until(() => !running(pid), 'the program to die');
  await driver.shutdown().catch(() => {});
  assert.equal(service.requests.length, asked + 1);

  ({ driver, page, pid } = await launch(program));
  await navigate(page, 'library');
  const complete = works().filter((entry) => entry.record !== null);
  for (const entry of complete) {
    assert.equal(existsSync(join(library, entry.name, 'image.png')), true, `${entry.name} has its image`);
  }
  await page.waitFor(async () => (await page.eval(
    `document.querySelectorAll('[data-test="library-tile"]').length`)) === complete.length);
  await screenshot(page, '06-after-kill');
  process.kill(pid, 'SIGTERM');
  await until(() => !running(pid), 'the program to stop');
  await driver.shutdown();
});
