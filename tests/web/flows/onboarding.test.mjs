// The first-run guide in real WebKit: it opens on a fresh install, can be
// skipped for good, and leads to the image service or a local agent.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { inventory, openPage, readyCodex } from '../support/page.mjs';

const stored = (page) => page.eval(`localStorage.getItem('plumora-onboarding-v2')`);

test('a fresh install shows the guide; skipping it keeps it away', async () => {
  const page = await openPage();
  try {
    await page.waitFor('[data-test="onboarding-step-shortcut"]');
    await page.click('[data-test="onboarding-skip"]');
    await page.waitFor(async () => (await stored(page)) === 'skipped');
    await page.waitFor('[data-test="surface-creation"]');
    await page.reload();
    await page.eval('new Promise((resolve) => setTimeout(resolve, 500))');
    assert.equal(await page.eval(`document.querySelector('[data-test="onboarding"]')?.hidden ?? true`), true);
  } finally {
    await page.close();
  }
});

test('the guide asks for selection reading and leads to a way to generate', async () => {
  const page = await openPage({
    colorScheme: 'dark',
    replies: { accessibility: { resolve: false }, agents: { resolve: inventory([readyCodex()]) } },
  });
  try {
    await page.waitFor('[data-test="onboarding-step-shortcut"]');
    await page.screenshot('onboarding-dark');
    await page.click('[data-test="onboarding-next"]');
    await page.waitFor('[data-test="onboarding-permission-request"]');
    await page.click('[data-test="onboarding-permission-request"]');
    await page.waitFor(async () => (await page.calls('requestAccessibility')).length === 1);
    await page.waitFor(async () => page.eval(`document.querySelector('[data-test="onboarding-permission-request"]').hidden`));

    await page.click('[data-test="onboarding-next"]');
    await page.click('[data-test="onboarding-agent"]');
    await page.waitFor('[data-test="onboarding-agent-row"]');
    await page.click('[data-test="onboarding-agent-setup"]');
    await page.waitFor(async () => (await page.calls('setupAgent')).length === 1);
    assert.equal(await stored(page), null);

    await page.click('[data-test="onboarding-api"]');
    await page.waitFor('[data-test="settings-api"]');
    assert.equal(await stored(page), 'done');
    assert.deepEqual(await page.errors(), []);
  } finally {
    await page.close();
  }
});
