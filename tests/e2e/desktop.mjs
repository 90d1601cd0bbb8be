// The desktop around the program for the end-to-end test and bench_e2e:
// helper processes, XTest through xdotool, a loopback HTTPS image service the
// program trusts through SSL_CERT_FILE, another application that holds a text
// selection, and the program itself started by WebKitWebDriver.
import { execFileSync, spawn } from 'node:child_process';
import { mkdtempSync, readFileSync } from 'node:fs';
import { createServer } from 'node:https';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

import { gradientPng } from '../web/support/png.mjs';
import { PageSession } from '../web/support/page.mjs';
import { Driver } from '../web/support/webdriver.mjs';

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
export const workDirectory = mkdtempSync(join(tmpdir(), 'glimmet-e2e-'));

const children = [];

export function start(command, args) {
  const child = spawn(command, args, { stdio: ['pipe', 'pipe', 'ignore'] });
  children.push(child);
  return child;
}

export function stopAll() {
  for (const child of children) child.kill('SIGKILL');
}

export function xdotool(...args) {
  return execFileSync('xdotool', args, { encoding: 'utf8', timeout: 10000 }).trim();
}

export async function until(condition, what, timeoutMs = 20000) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const value = await condition();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await sleep(20);
  }
}

export const running = (pid) => {
  try {
    process.kill(pid, 0);
    return true;
  } catch {
    return false;
  }
};

// A self-signed certificate for 127.0.0.1: its own CA file.
function certificate() {
  const [key, cert] = ['key.pem', 'cert.pem'].map((name) => join(workDirectory, name));
  execFileSync('openssl', ['req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', key, '-out', cert, '-days', '2',
    '-subj', '/CN=127.0.0.1', '-addext', 'subjectAltName=IP:127.0.0.1'], { stdio: 'ignore' });
  return { ca: cert, key: readFileSync(key), cert: readFileSync(cert) };
}

// An OpenAI-compatible image service that answers every generation at once
// with a picture of `service.size` pixels square. Programs started afterwards
// trust it.
export async function imageService() {
  const tls = certificate();
  process.env.SSL_CERT_FILE = tls.ca;
  const requests = [];
  const service = { requests, size: 64, caFile: tls.ca };
  const server = createServer({ key: tls.key, cert: tls.cert }, (request, response) => {
    let body = '';
    request.on('data', (chunk) => (body += chunk));
    request.on('end', () => {
      requests.push({ path: request.url, authorization: request.headers.authorization, body });
      const image = gradientPng(service.size, service.size, requests.length).toString('base64');
      response.writeHead(200, { 'content-type': 'application/json' });
      response.end(JSON.stringify({ data: [{ b64_json: image }] }));
    });
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  children.push({ kill: () => server.close() });
  service.url = `https://127.0.0.1:${server.address().port}/v1`;
  return service;
}

// Another application whose user has selected `text`, in front.
export async function selectText(text) {
  const owner = start(process.env.GLIMMET_SELECTION_OWNER, [text]);
  await new Promise((resolve) => owner.stdout.once('data', resolve));
  const window = await until(() => {
    try {
      return xdotool('search', '--onlyvisible', '--pid', String(owner.pid)).split('\n')[0];
    } catch {
      return '';
    }
  }, 'the selection owner window');
  xdotool('windowactivate', '--sync', window);
  return owner;
}

// The program, started by WebKitWebDriver, its page and its process id.
export async function launch(program) {
  const driver = await Driver.start();
  const session = await driver.newSession([], { name: 'glimmet', binary: program });
  const page = new PageSession(session);
  await page.waitFor(() => page.eval(`document.readyState === 'complete'`));
  const pid = Number(await until(() => execFileSync('pgrep', ['-n', '-f', program], { encoding: 'utf8' }).trim(),
    'the program'));
  return { driver, page, pid };
}

// Configures the image service in the page's settings, its key into the keyring.
export async function configureService(page, service) {
  await navigate(page, 'settings');
  await page.fill('[data-test="api-base-url"]', service.url);
  await page.fill('[data-test="api-model"]', 'gpt-image-1');
  await page.fill('[data-test="api-key"]', 'sk-journey');
  await page.click('[data-test="api-save"]');
  await page.waitFor(async () => (await page.text('[data-test="api-state"]')) === '已保存，尚未验证');
}

// Opens a surface from the island's navigation; a folded island opens on
// the creation surface first.
export async function navigate(page, surface) {
  const button = `[data-test="nav-${surface}"]`;
  if (await page.visible(button)) return page.click(button);
  await page.click('[data-test="island-open"]');
  if (surface !== 'creation') await page.click(button);
}
