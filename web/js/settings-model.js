// Pure logic of the settings and onboarding views: the image service form,
// the labels of stored states, and the onboarding flag. No DOM, no bridge.

import { graphemeCount, utf8Length } from './format.js';

// The native side's own messages; the page checks the clear cases first so the
// user sees the same sentence at once, and the native side still decides.
export const baseURLMessage = '请输入 HTTPS Base URL，不含密钥、查询参数或账号密码';
export const modelMessage = '请填写图片模型名称';
export const keyMessage = 'API Key 格式无效';

const hasSpace = (text) => /[\s\u0085\u2028\u2029]/u.test(text);

function baseURLAcceptable(text) {
  if (text === '' || graphemeCount(text) > 2048 || hasSpace(text)) return false;
  if (!text.startsWith('https://') || text.includes('?') || text.includes('#')) return false;
  let url;
  try {
    url = new URL(text);
  } catch {
    return false;
  }
  return url.hostname !== '' && url.username === '' && url.password === '';
}

// The apiConfigure value for the form's fields, or the first error.
// Fields are trimmed (a pasted key often carries a trailing newline); an empty
// key is left out so the stored key is kept.
export function apiConfigureValue({ baseURL = '', model = '', key = '' }) {
  const base = String(baseURL).trim();
  const name = String(model).trim();
  const secret = String(key).trim();
  if (!baseURLAcceptable(base)) return { error: baseURLMessage };
  if (name === '' || utf8Length(name) > 128 || hasSpace(name)) return { error: modelMessage };
  if (secret !== '' && (utf8Length(secret) > 8192 || hasSpace(secret))) return { error: keyMessage };
  const value = { baseURL: base, model: name };
  if (secret !== '') value.key = secret;
  return { value };
}

// The shown state of the image service from an apiStatus dictionary.
export function apiStateLabel(status) {
  if (!status || !status.baseURL || !status.hasKey) return '尚未配置';
  return status.verified ? '已验证' : '已保存，尚未验证';
}

export const appearanceOptions = [
  { value: 'system', label: '跟随系统' },
  { value: 'light', label: '浅色' },
  { value: 'dark', label: '深色' },
];

export function normalizedAppearance(value) {
  return appearanceOptions.some((option) => option.value === value) ? value : 'system';
}

// A short badge for one agent of the inventory; the reason sentence comes from the native side.
export function agentBadge(agent) {
  if (!agent?.installed) return '未安装';
  if (agent.imageGeneration) return agent.verified ? '可生成 · 已验证' : '可生成';
  if (agent.authState === 'required') return '需要登录';
  return '已安装';
}

// The agents of an inventory reply, tolerant of a malformed reply.
export function agentsOf(inventory) {
  return Array.isArray(inventory?.agents)
    ? inventory.agents.filter((agent) => agent && typeof agent.id === 'string')
    : [];
}

// Whether the first-run guide should show, from its stored outcome (undefined
// when storage cannot be read): until it was finished or skipped once, and
// never when storage could not remember either.
export function onboardingNeeded(stored) {
  return stored !== undefined && stored !== 'skipped' && stored !== 'done';
}
