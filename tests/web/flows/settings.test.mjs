// The settings surface in real WebKit against the scripted native side: the
// image service form with its errors shown verbatim, appearance, local agents
// and the device login.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { configuredStatus, expectText, inventory, missingAgent, openPage, readyCodex } from '../support/page.mjs';

async function openSettings(options = {}) {
  const page = await openPage({ localStorage: { 'plumora-onboarding-v2': 'done' }, ...options });
  await page.click('[data-test="island-open"]');
  await page.click('[data-test="nav-settings"]');
  await page.waitFor('[data-test="settings-api"]');
  return page;
}

test('the image service is saved, checked, and every refusal is shown as it comes', async () => {
  const page = await openSettings({ replies: { apiConfigure: { reject: '无法将 API Key 保存到钥匙串，原配置已保留' } } });
  try {
    await expectText(page, '[data-test="api-state"]', '尚未配置');

    // Refused in the page with the service's own sentence, nothing sent.
    await page.fill('[data-test="api-base-url"]', 'http://images.example.com/v1');
    await page.fill('[data-test="api-model"]', 'gpt-image-1');
    await page.click('[data-test="api-save"]');
    await expectText(page, '[data-test="api-message"]', '请输入 HTTPS Base URL，不含密钥、查询参数或账号密码');
    assert.deepEqual(await page.calls('apiConfigure'), []);

    await page.fill('[data-test="api-base-url"]', 'https://images.example.com/v1');
    await page.fill('[data-test="api-key"]', 'sk-test');
    await page.click('[data-test="api-save"]');
    await expectText(page, '[data-test="api-message"]', '无法将 API Key 保存到钥匙串，原配置已保留');
    assert.deepEqual(await page.calls('apiConfigure'), [
      { baseURL: 'https://images.example.com/v1', model: 'gpt-image-1', key: 'sk-test' },
    ]);

    await page.reply('apiConfigure', { resolve: configuredStatus({ verified: false }) });
    await page.click('[data-test="api-save"]');
    await expectText(page, '[data-test="api-state"]', '已保存，尚未验证');
    await expectText(page, '[data-test="api-message"]', '已保存');
    assert.equal(await page.eval(`document.querySelector('[data-test="api-key"]').value`), '');

    await page.reply('apiCheck', { reject: '连接成功，但模型列表未包含该模型；可核对模型名后进行真实试生成' });
    await page.click('[data-test="api-check"]');
    await expectText(page, '[data-test="api-message"]', '连接成功，但模型列表未包含该模型；可核对模型名后进行真实试生成');

    await page.reply('apiCheck', { resolve: configuredStatus() });
    await page.click('[data-test="api-check"]');
    await expectText(page, '[data-test="api-state"]', '已验证');
    assert.deepEqual(await page.errors(), []);
  } finally {
    await page.close();
  }
});

test('appearance, agents, permission and account reach the native side', async () => {
  const page = await openSettings({
    replies: {
      agents: { resolve: inventory([readyCodex({ verified: false }), missingAgent('claude')]) },
      accessibility: { resolve: false },
      cloudPoll: { resolve: { pending: false } },
    },
  });
  try {
    await page.click('[data-test="settings-tab-appearance"]');
    await page.click('[data-test="appearance-dark"]');
    await page.waitFor(async () => (await page.calls('appearance')).length === 1);
    assert.deepEqual(await page.calls('appearance'), ['dark']);
    await expectText(page, '[data-test="appearance-message"]', '当前为深色外观');

    await page.click('[data-test="settings-tab-agents"]');
    await page.waitFor('[data-test="agent-row"][data-id="codex"]');
    await expectText(page, '[data-test="agent-row"][data-id="codex"] [data-test="agent-badge"]', '可生成');
    await expectText(page, '[data-test="agent-row"][data-id="claude"] [data-test="agent-reason"]', '未安装，可在原生设置中安装或查看指引');
    await page.click('[data-test="agent-row"][data-id="codex"] [data-test="agent-setup"]');
    await page.waitFor(async () => (await page.calls('setupAgent')).length === 1);
    assert.deepEqual(await page.calls('setupAgent'), ['codex']);

    await page.click('[data-test="settings-tab-shortcuts"]');
    await expectText(page, '[data-test="permission-state"]', '未允许');
    await page.click('[data-test="permission-request"]');
    await expectText(page, '[data-test="permission-state"]', '已允许');
    await page.click('[data-test="shortcuts-open"]');
    await page.waitFor(async () => (await page.calls('settings')).length === 1);

    await page.click('[data-test="settings-tab-account"]');
    await page.click('[data-test="account-login"]');
    await expectText(page, '[data-test="account-code"]', 'WDJB-MJHT');
    await expectText(page, '[data-test="account-state"]', '已登录', 6000);
    await page.click('[data-test="account-logout"]');
    await expectText(page, '[data-test="account-state"]', '未登录');
    assert.equal((await page.calls('cloudLogout')).length, 1);

    await page.reply('cloudLogin', { reject: '无法启动账号登录，请稍后重试' });
    await page.click('[data-test="account-login"]');
    await expectText(page, '[data-test="account-message"]', '无法启动账号登录，请稍后重试');
  } finally {
    await page.close();
  }
});

for (const colorScheme of ['light', 'dark']) {
  test(`settings screenshots in ${colorScheme}`, async () => {
    const page = await openSettings({
      colorScheme,
      replies: { apiStatus: { resolve: configuredStatus() }, agents: { resolve: inventory([readyCodex(), missingAgent('claude')]) } },
    });
    try {
      await expectText(page, '[data-test="api-state"]', '已验证');
      await page.screenshot(`settings-${colorScheme}`);
      await page.click('[data-test="settings-tab-agents"]');
      await page.waitFor('[data-test="agent-row"]');
      await page.eval('new Promise((resolve) => setTimeout(resolve, 300))');
      await page.screenshot(`settings-agents-${colorScheme}`);
    } finally {
      await page.close();
    }
  });
}
