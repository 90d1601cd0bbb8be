// A minimal page for the injected bridge script: a window with local storage
// and the "plumora" message handler, which records every post.
// Usage: node bridge_page_harness.js BRIDGE_SCRIPT DRIVER
// DRIVER is the body of an async function run after the bridge script; its
// result is printed as JSON.
'use strict';
const fs = require('fs');
const vm = require('vm');

const [bridgePath, driverPath] = process.argv.slice(2);
const storage = {};
const posts = [];

Object.assign(globalThis, {
  window: globalThis,
  posts,
  storage,
  localStorage: { setItem: (key, value) => { storage[key] = String(value); } },
  webkit: { messageHandlers: { plumora: { postMessage: message => posts.push(structuredClone(message)) } } },
});

vm.runInThisContext(fs.readFileSync(bridgePath, 'utf8'), { filename: 'bridge.js' });
const driver = vm.runInThisContext(
  `(async () => {\n${fs.readFileSync(driverPath, 'utf8')}\n})`, { filename: 'driver.js' });
driver().then(
  result => process.stdout.write(JSON.stringify(result === undefined ? null : result)),
  error => { process.stderr.write(`${error.stack}\n`); process.exit(1); });
