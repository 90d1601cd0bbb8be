// The fake native side's answers when a test sets none: a fresh install with
// no image service, no local agent, an empty library and an idle capture.
// Actions not listed here resolve with null.
import { gradientPng, seedOf } from './png.mjs';

const agentNames = { codex: 'Codex', claude: 'Claude Code', gemini: 'Gemini CLI', zcode: 'ZCode' };
const noOperations = { textToImage: false, imageToImage: false, text: false, reference: false, edit: false, mask: false, video: false };

const pngDataURL = (width, height, seed = 0) =>
  `data:image/png;base64,${gradientPng(width, height, seed).toString('base64')}`;

// One agent as the inventory reports it when its CLI is not installed.
function missingAgent(id) {
  return {
    id,
    name: agentNames[id] ?? id,
    installed: false,
    path: '',
    version: '',
    authState: 'unknown',
    imageGeneration: false,
    verified: false,
    operations: noOperations,
    reason: '未安装，可在原生设置中安装或查看指引',
  };
}

// The inventory: by default no agent installed; with `codex` a logged-in
// Codex that can generate and attach images.
export function inventory({ codex = false } = {}) {
  const agents = ['codex', 'claude', 'gemini', 'zcode'].map(missingAgent);
  if (codex) {
    Object.assign(agents[0], { installed: true, path: '/home/user/.local/bin/codex', version: 'codex-cli 0.58.0',
      authState: 'ready', imageGeneration: true, verified: true, reason: '已验证本机生成图片' });
    agents[0].operations = { ...noOperations, textToImage: true, imageToImage: true, text: true, reference: true };
  }
  return { agents, notice: '本机生成使用你自己的 Agent 账号及其额度，不扣 Glimmet 积分。' };
}

// An image service that is configured and verified.
export function configuredStatus(overrides = {}) {
  return { baseURL: 'https://images.example.com/v1', model: 'gpt-image-1', hasKey: true, verified: true, ...overrides };
}

// A library entry as the store lists it.
export function work(id, day, extra = {}) {
  return {
    id,
    title: `作品 ${id[0]}`,
    prompt: `海边的灯塔 ${id[0]}`,
    createdAt: `2026-03-0${day}T08:00:00Z`,
    ratio: '4:3',
    width: 1024,
    height: 768,
    thumbnail: pngDataURL(160, 120, seedOf(id)),
    kind: 'image',
    available: true,
    fileBytes: 1572864,
    storedBytes: 1600000,
    allocatedBytes: 2 * 1024 * 1024,
    provider: 'api',
    model: 'gpt-image-1',
    ...extra,
  };
}

const image = pngDataURL(512, 288, 7);
const done = ['previewSound', 'present', 'islandGeometry', 'templateModal', 'cloudOpen', 'cloudLogout', 'hide', 'pin',
  'taskState', 'previewTrace', 'libraryVideo', 'saveImage', 'copyText', 'copyImage', 'settings', 'accessibility',
  'requestAccessibility', 'apiCancel', 'cancelLocal'];

const defaultReplies = {
  ...Object.fromEntries(done.map((action) => [action, { resolve: true }])),
  islandAnchor: { resolve: 374 },
  apiStatus: { resolve: { baseURL: '', model: '', hasKey: false, verified: false } },
  apiGenerate: {
    resolve: { image, agent: 'custom-api', model: 'gpt-image-1', width: 512, height: 288, taskId: 'F0E1D2C3-0000-4000-8000-000000000001' },
    delay: 150,
  },
  cloudRequest: { resolve: { httpStatus: 200 } },
  cloudLogin: { resolve: { userCode: 'WDJB-MJHT', verificationUri: 'https://glimmet.example/device?user_code=WDJB-MJHT' } },
  cloudPoll: { resolve: { pending: false } },
  appearance: { resolve: { preference: 'system', theme: 'light' } },
  historyList: { resolve: [] },
  historyImage: { resolve: image },
  historySave: { resolve: work('F0F0F0F0-0000-4000-8000-000000000009', 9, { thumbnail: image }) },
  libraryAction: { resolve: { ok: true } },
  libraryMedia: { resolve: image },
  capture: { resolve: { text: '', voice: false } },
  clipboard: { resolve: '' },
  agents: { resolve: inventory() },
  setupAgent: { resolve: { opened: true } },
};

export const replyTable = (overrides = {}) => ({ ...defaultReplies, ...overrides });
