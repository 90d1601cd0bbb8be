// From the shortcut press to the first generated image shown, against a
// loopback image service that answers at once:
//
// e2e_ms: the program (started by WebKitWebDriver, the service configured in
//   its settings): text selected in another window, Ctrl+P pressed; the page
//   clicks "generate" itself the moment the captured text is in its prompt
//   (the person's reaction is not the program's time), and the clock stops
//   at the first frame after the result image has decoded.
// baseline: the same request made by curl, its Base64 image decoded and shown
//   by a GTK program (image_window) up to its first drawn frame.
//
// Each is the median of several rounds after one warm-up; e2e_ratio is
// e2e_ms / baseline. Run by bench/bench_e2e on its own display and keyring.
import { execFile, spawn } from 'node:child_process';
import { writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { promisify } from 'node:util';

import {
  configureService, imageService, launch, navigate, selectText, start, stopAll, until, workDirectory, xdotool,
} from '../../tests/e2e/desktop.mjs';

const run = promisify(execFile);
const rounds = Number(process.env.BENCH_E2E_ROUNDS ?? 7);
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

// Armed before the key press: generates as soon as the capture is in, and
// records the wall-clock time of the first frame showing the decoded result.
const armScript = `window.__benchDone = null;
  const text = arguments[0];
  const prompt = () => document.querySelector('[data-test="prompt"]');
  const captured = setInterval(() => {
    if (prompt()?.value !== text) return;
    clearInterval(captured);
    const known = document.querySelector('[data-test="result-image"]')?.src;
    document.querySelector('[data-test="generate"]').click();
    const shown = setInterval(() => {
      const image = document.querySelector('[data-test="result-image"]');
      if (!image || !image.src || image.src === known || !image.complete || image.naturalWidth === 0) return;
      clearInterval(shown);
      image.decode().then(() => requestAnimationFrame(() => { window.__benchDone = Date.now(); }));
    }, 1);
  }, 1);`;

async function programRound(page, index) {
  const text = `灯塔 ${index}`;
  const owner = await selectText(text);
  await page.session.execute(armScript, [text]);
  const windows = () => {
    try {
      return xdotool('search', '--onlyvisible', '--class', 'glimmet').split('\n').length;
    } catch {
      return 0;
    }
  };
  const before = windows();
  const pressed = Date.now();
  xdotool('key', 'ctrl+p');
  // The radial menu takes the keyboard once it is up; 1 sends the text as it is.
  await until(() => windows() > before, 'the radial menu');
  xdotool('key', '1');
  const done = await until(() => page.eval('window.__benchDone'), 'the generated image', 60000);
  owner.kill();
  return done - pressed;
}

// The service answers from this process, so curl runs without blocking it.
async function baselineRound(service) {
  const started = Date.now();
  const { stdout } = await run('curl', ['-s', '--cacert', service.caFile, '-H', 'Authorization: Bearer sk-journey',
    '-H', 'Content-Type: application/json', '-d', JSON.stringify({ model: 'gpt-image-1', prompt: '灯塔' }),
    `${service.url}/images/generations`], { maxBuffer: 64 * 1024 * 1024 });
  const file = join(workDirectory, 'baseline.png');
  writeFileSync(file, Buffer.from(JSON.parse(stdout).data[0].b64_json, 'base64'));
  const viewer = spawn(process.env.GLIMMET_IMAGE_WINDOW, [file], { stdio: ['ignore', 'pipe', 'inherit'] });
  await new Promise((resolve, reject) => {
    viewer.stdout.once('data', resolve);
    viewer.once('error', reject);
  });
  return Date.now() - started;
}

try {
  const service = await imageService();
  service.size = 1024;
  start('openbox', ['--sm-disable']);
  const { driver, page } = await launch(process.env.GLIMMET_PROGRAM);
  await page.click('[data-test="onboarding-skip"]');
  await configureService(page, service);
  await navigate(page, 'creation');

  const program = [];
  const baseline = [];
  for (let round = 0; round <= rounds; round++) {
    const programMs = await programRound(page, round);
    const baselineMs = await baselineRound(service);
    if (round === 0) continue;
    program.push(programMs);
    baseline.push(baselineMs);
  }
  const e2e = median(program);
  const reference = median(baseline);
  console.log(`e2e_ms: ${e2e}`);
  console.log(`baseline_ms: ${reference}`);
  console.log(`e2e_ratio: ${(e2e / reference).toFixed(3)}`);
  await driver.shutdown();
} finally {
  stopAll();
}
