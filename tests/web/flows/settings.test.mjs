// The first-run guide and the settings surface in real WebKit against the
// scripted native side: the guide opens on a fresh install and leads to a way
// to generate; the image service form shows the native answers verbatim;
// appearance, agents, the permission and the device login.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { configuredStatus, expectText, inventory, missingAgent, openIsland, openPage, readyCodex } from '../support/page.mjs';

const stored = (page) => page.eval(`localStorage.getItem('plumora-onboarding-v2')`);

test('the guide asks for selection reading and leads to a way to generate', async (t) => {
  const page = await openPage({
    colorScheme: 'dark',
    replies: { accessibility: { resolve: false }, agents: { resolve: inventory([readyCodex()]) } },
  });
  t.after(() => page.close());
  await page.waitFor('[data-test="onboarding-step-shortcut"]');
  await page.screenshot('onboarding-dark');
  await page.click('[data-test="onboarding-next"]');
  await page.click('[data-test="onboarding-permission-request"]');
  await page.waitFor(async () => page.eval(`document.querySelector('[data-test="onboarding-permission-request"]').hidden`));
  assert.equal((await page.calls('requestAccessibility')).length, 1);

  await page.click('[data-test="onboarding-next"]');
  await page.click('[data-test="onboarding-agent"]');
  await page.click('[data-test="onboarding-agent-setup"]');
  await page.waitFor(async () => (await page.calls('setupAgent')).length === 1);
  assert.equal(await stored(page), null);

  await page.click('[data-test="onboarding-api"]');
  await page.waitFor('[data-test="settings-api"]');
  assert.equal(await stored(page), 'done');
  assert.deepEqual(await page.errors(), []);
});

async function openSettings(t, options = {}) {
  const page = await openIsland(t, { ...options, surface: 'settings' });
  await page.waitFor('[data-test="settings-api"]');
  return page;
}

test('the image service is saved and checked, every native answer shown as it comes', async (t) => {
  const page = await openSettings(t, { replies: { apiConfigure: { reject: '无法将 API Key 保存到钥匙串，原配置已保留' } } });
  await expectText(page, '[data-test="api-state"]', '尚未配置');
  await page.fill('[data-test="api-base-url"]', 'https://images.example.com/v1');
  await page.fill('[data-test="api-model"]', 'gpt-image-1');
  await page.fill('[data-test="api-key"]', 'sk-test');
  await page.click('[data-test="api-save"]');
  await expectText(page, '[data-test="api-message"]', '无法将 API Key 保存到钥匙串，原配置已保留');
  assert.deepEqual(await page.calls('apiConfigure'), [
    { baseURL: 'https://images.example.com/v1', model: 'gpt-image-1', key: 'sk-test' },
  ]);

  await page.reply('apiConfigure', { resolve: configuredStatus({ verified: false }) });
  await page.click('[data-test="api-save"]');
  await expectText(page, '[data-test="api-state"]', '已保存，尚未验证');
  assert.equal(await page.eval(`document.querySelector('[data-test="api-key"]').value`), '');

  await page.reply('apiCheck', { reject: '连接成功，但模型列表未包含该模型；可核对模型名后进行真实试生成' });
  await page.click('[data-test="api-check"]');
  await expectText(page, '[data-test="api-message"]', '连接成功，但模型列表未包含该模型；可核对模型名后进行真实试生成');
  await page.screenshot('settings-light');
  assert.deepEqual(await page.errors(), []);
});

test('appearance, agents, permission and account reach the native side', async (t) => {
  const page = await openSettings(t, {
    colorScheme: 'dark',
    replies: {
      agents: { resolve: inventory([readyCodex({ verified: false }), missingAgent('claude')]) },
      appearance: { resolve: { preference: 'dark', theme: 'dark' } },
      accessibility: { resolve: false },
    },
  });
  await page.click('[data-test="settings-tab-appearance"]');
  await page.click('[data-test="appearance-dark"]');
  await expectText(page, '[data-test="appearance-message"]', '当前为深色外观');
  assert.deepEqual(await page.calls('appearance'), ['dark']);

  await page.click('[data-test="settings-tab-agents"]');
  await expectText(page, '[data-test="agent-row"][data-id="codex"] [data-test="agent-badge"]', '可生成');
  await expectText(page, '[data-test="agent-row"][data-id="claude"] [data-test="agent-reason"]', '未安装，可在原生设置中安装或查看指引');
  await page.screenshot('settings-agents-dark');
  await page.click('[data-test="agent-row"][data-id="codex"] [data-test="agent-setup"]');
  await page.waitFor(async () => (await page.calls('setupAgent')).length === 1);
  assert.deepEqual(await page.calls('setupAgent'), ['codex']);

  await page.click('[data-test="settings-tab-shortcuts"]');
  await expectText(page, '[data-test="permission-state"]', '未允许');
  await page.click('[data-test="permission-request"]');
  await expectText(page, '[data-test="permission-state"]', '已允许');

  await page.click('[data-test="settings-tab-account"]');
  await page.click('[data-test="account-login"]');
  await expectText(page, '[data-test="account-code"]', 'WDJB-MJHT');
  await expectText(page, '[data-test="account-state"]', '已登录', 6000);
  await page.click('[data-test="account-logout"]');
  await expectText(page, '[data-test="account-state"]', '未登录');
  await page.reply('cloudLogin', { reject: '无法启动账号登录，请稍后重试' });
  await page.click('[data-test="account-login"]');
  await expectText(page, '[data-test="account-message"]', '无法启动账号登录，请稍后重试');
});
