import { test } from 'node:test';
import assert from 'node:assert/strict';
import { agentBadge, apiConfigureValue, baseURLMessage, keyMessage, modelMessage } from '../../../web/js/settings-model.js';

test('the image service form yields the configure value or the native message', () => {
  const ok = (value) => ({ value });
  const rows = [
    [{ baseURL: ' https://api.example.com/v1/ ', model: 'gpt-image-1', key: ' sk-1\n' },
      ok({ baseURL: 'https://api.example.com/v1/', model: 'gpt-image-1', key: 'sk-1' })],
    [{ baseURL: 'https://api.example.com', model: 'm', key: '' }, ok({ baseURL: 'https://api.example.com', model: 'm' })],
    [{ baseURL: 'http://api.example.com', model: 'm' }, { error: baseURLMessage }],
    [{ baseURL: 'https://user:pw@api.example.com', model: 'm' }, { error: baseURLMessage }],
    [{ baseURL: 'https://api.example.com/v1?key=1', model: 'm' }, { error: baseURLMessage }],
    [{ baseURL: `https://a.example.com/${'p'.repeat(2030)}`, model: 'm' }, { error: baseURLMessage }],
    [{ baseURL: 'https://api.example.com', model: '' }, { error: modelMessage }],
    [{ baseURL: 'https://api.example.com', model: 'gpt image' }, { error: modelMessage }],
    [{ baseURL: 'https://api.example.com', model: 'm'.repeat(128) }, ok({ baseURL: 'https://api.example.com', model: 'm'.repeat(128) })],
    [{ baseURL: 'https://api.example.com', model: '模'.repeat(43) }, { error: modelMessage }], // 129 bytes
    [{ baseURL: 'https://api.example.com', model: 'm', key: 'sk 1' }, { error: keyMessage }],
    [{ baseURL: 'https://api.example.com', model: 'm', key: 'k'.repeat(8193) }, { error: keyMessage }],
  ];
  for (const [form, outcome] of rows) assert.deepEqual(apiConfigureValue(form), outcome, JSON.stringify(form).slice(0, 80));
});

test('agents read as short badges', () => {
  const rows = [
    [{ installed: false }, '未安装'],
    [{ installed: true, imageGeneration: true, verified: true }, '可生成 · 已验证'],
    [{ installed: true, imageGeneration: true, verified: false }, '可生成'],
    [{ installed: true, imageGeneration: false, authState: 'required' }, '需要登录'],
    [{ installed: true, imageGeneration: false, authState: 'unknown' }, '已安装'],
  ];
  for (const [agent, badge] of rows) assert.equal(agentBadge(agent), badge);
});
