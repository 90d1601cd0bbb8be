// The fake native side's answers when a test sets none: a fresh install with
// no image service, no local agent, an empty library and an idle capture.
// {fake: name} entries are computed in the page from the call's value (see
// fake-native.js); tests replace any entry with a plain reply.

const agentNames = { codex: 'Codex', claude: 'Claude Code', gemini: 'Gemini CLI', zcode: 'ZCode' };

// One agent as the inventory reports it when its CLI is not installed.
export function missingAgent(id) {
  return {
    id,
    name: agentNames[id] ?? id,
    installed: false,
    path: '',
    version: '',
    authenticated: false,
    authState: 'unknown',
    imageGeneration: false,
    verified: false,
    runtimeReady: true,
    operations: {
      textToImage: false,
      imageToImage: false,
      text: false,
      reference: false,
      edit: false,
      mask: false,
      video: false,
    },
    reason: '未安装，可在原生设置中安装或查看指引',
  };
}

// A logged-in Codex that can generate (and attach images unless told not to).
export function readyCodex({ verified = true, reference = true } = {}) {
  return {
    ...missingAgent('codex'),
    installed: true,
    path: '/home/user/.local/bin/codex',
    version: 'codex-cli 0.58.0',
    authenticated: true,
    authState: 'ready',
    imageGeneration: true,
    verified,
    operations: {
      textToImage: true,
      imageToImage: reference,
      text: true,
      reference,
      edit: false,
      mask: false,
      video: false,
    },
    reason: verified ? '已验证本机生成图片' : '支持本机生图，等待首次结果验证',
  };
}

export function inventory(agents = ['codex', 'claude', 'gemini', 'zcode'].map(missingAgent)) {
  const codex = agents.find((agent) => agent.id === 'codex');
  return {
    agents,
    billing: 'local-agent',
    plumoraCredits: 0,
    selected: codex?.path ? 'codex' : '',
    notice:
      '本机生成使用你自己的 Agent 账号及其额度，不扣 Glimmet 积分。Gemini / ZCode 的登录状态尚未验证。',
  };
}

// An image service that is configured and verified.
export function configuredStatus(overrides = {}) {
  return {
    baseURL: 'https://images.example.com/v1',
    model: 'gpt-image-1',
    hasKey: true,
    verified: true,
    ...overrides,
  };
}

export const defaultReplies = {
  previewSound: { resolve: true },
  present: { resolve: true },
  islandGeometry: { resolve: true },
  templateModal: { resolve: true },
  islandAnchor: { resolve: 374 },
  apiStatus: { resolve: { baseURL: '', model: '', hasKey: false, verified: false } },
  apiConfigure: { fake: 'apiConfigure' },
  apiCheck: { fake: 'apiCheck' },
  apiGenerate: { fake: 'apiGenerate' },
  apiCancel: { fake: 'apiCancel' },
  cloudRequest: { resolve: { httpStatus: 200 } },
  cloudUpload: { resolve: {} },
  cloudAsset: { reject: '作品暂时无法读取' },
  cloudSaveAsset: { reject: '作品暂时无法读取' },
  cloudOpen: { resolve: true },
  cloudLogin: {
    resolve: { userCode: 'WDJB-MJHT', verificationUri: 'https://glimmet.example/device?user_code=WDJB-MJHT' },
  },
  cloudPoll: { resolve: { pending: false } },
  cloudLogout: { resolve: true },
  hide: { resolve: true },
  pin: { resolve: true },
  fit: { resolve: null },
  prepareHistory: { resolve: null },
  layoutHistory: { resolve: null },
  selectMenu: { resolve: null },
  appearance: { fake: 'appearance' },
  taskState: { resolve: true },
  historyList: { resolve: [] },
  historyImage: { fake: 'historyImage' },
  historySave: { fake: 'historySave' },
  libraryAction: { resolve: { ok: true } },
  libraryTrash: { fake: 'libraryTrash' },
  libraryMedia: { fake: 'libraryMedia' },
  libraryPreview: { fake: 'libraryPreview' },
  previewTrace: { resolve: true },
  libraryVideo: { resolve: true },
  saveImage: { resolve: true },
  capture: { resolve: { text: '', voice: false } },
  clipboard: { resolve: '' },
  copyText: { resolve: true },
  copyImage: { resolve: true },
  settings: { resolve: true },
  accessibility: { resolve: true },
  requestAccessibility: { resolve: true },
  agents: { resolve: inventory() },
  setupAgent: { resolve: { opened: true } },
  localGenerate: { fake: 'localGenerate' },
  cancelLocal: { fake: 'cancelLocal' },
};

// Checks a test's reply so a typo fails loudly instead of answering null.
export function checkedReply(action, reply) {
  const kinds = ['resolve', 'reject', 'hold', 'fake'].filter((kind) => reply && kind in reply);
  const extra = Object.keys(reply ?? {}).filter((key) => !['resolve', 'reject', 'hold', 'fake', 'delay'].includes(key));
  if (kinds.length !== 1 || extra.length > 0) {
    throw new TypeError(
      `reply for ${action} must be {resolve: value} | {reject: 'message'} | {hold: true}` +
        ` (optionally with delay): ${JSON.stringify(reply)}`,
    );
  }
  if ('reject' in reply && typeof reply.reject !== 'string') {
    throw new TypeError(`reject for ${action} must be a message string`);
  }
  return reply;
}

export function replyTable(overrides = {}) {
  const table = { ...defaultReplies };
  for (const [action, reply] of Object.entries(overrides)) table[action] = checkedReply(action, reply);
  return table;
}
