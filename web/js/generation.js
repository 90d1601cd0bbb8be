// Request shaping for the two ways of generating: the image service
// (apiGenerate) and the local agent (localGenerate). Pure functions of the
// creation draft, so the exact values sent over the bridge are testable.
//
// A draft is { mode, prompt, ratio, image, template, parentId, requestId }:
// `mode` is the page's own mode id (below), `image` a data URL or null,
// `template` one of the gallery styles or null.

import { firstCharacters } from './format.js';

export const RATIOS = ['1:1', '4:3', '3:4', '16:9', '9:16'];

// Modes offered for text and for a working image. The image modes differ from
// the services' names: a whole-image change is the service mode "edit" for the
// image service, while "局部修改" (mask editing) is not available anywhere yet.
const TEXT_MODES = [
  { id: 'direct', label: '直接生图' },
  { id: 'template', label: '套用模板' },
  { id: 'reference', label: '参考图片' },
];
const IMAGE_MODES = [
  { id: 'whole', label: '整体改图' },
  { id: 'reference', label: '作为参考' },
  { id: 'mask', label: '局部修改' },
];

// The services' own refusal of mask editing, shown beside the unavailable mode.
export const MASK_REFUSAL = {
  api: '当前图片 API 不支持此模式或局部蒙版',
  codex: '本机 Agent 尚未验证精确遮罩编辑。',
};

// The history store keeps prompts of at most this many characters.
const SAVED_PROMPT_LIMIT = 10000;

export function modesFor(hasImage) {
  return hasImage ? IMAGE_MODES : TEXT_MODES;
}

// The radial menu names its image actions by index: ["edit", "direct",
// "reference"] stand for 局部修改, 整体改图 and 作为参考.
const payloadImageModes = { edit: 'mask', direct: 'whole', reference: 'reference' };

// The page mode a capture payload's "mode" asks for, or the default.
export function modeFromPayload(mode, hasImage) {
  if (hasImage) return payloadImageModes[mode] ?? 'whole';
  return TEXT_MODES.some((entry) => entry.id === mode) ? mode : 'direct';
}

// Keeps `mode` when it exists for the material, otherwise the material's default.
export function fitMode(mode, hasImage) {
  return modesFor(hasImage).some((entry) => entry.id === mode) ? mode : modesFor(hasImage)[0].id;
}

// The prompt a template produces for the user's text.
export function fillTemplate(template, text) {
  const subject = text.trim();
  return subject ? `${subject}\n\n风格：${template.prompt}` : template.prompt;
}

// Why the draft cannot be sent to `provider` ('api' | 'codex' | null), or null.
export function draftProblem(draft, provider) {
  if (!provider) return '请先在设置中配置图片服务或本机 Agent';
  if (draft.mode === 'mask') return MASK_REFUSAL[provider];
  if (!draft.prompt.trim()) return draft.image ? '请写下想怎样调整这张图片' : '请先写下想要的画面';
  if (draft.mode === 'template' && !draft.template) return '请选择一个模板风格';
  if (draft.mode === 'reference' && !draft.image) return '请添加风格参考图';
  return null;
}

function refuseMask(draft, provider) {
  if (draft.mode === 'mask') throw new Error(MASK_REFUSAL[provider]);
}

// The value of apiGenerate.
export function apiRequest(draft) {
  refuseMask(draft, 'api');
  const value = { kind: 'image', mode: 'direct', prompt: draft.prompt, ratio: draft.ratio };
  switch (draft.mode) {
    case 'template':
      return { ...value, mode: 'template', prompt: fillTemplate(draft.template, draft.prompt) };
    case 'reference':
      return { ...value, mode: 'reference', referenceImage: draft.image };
    case 'whole':
      return { ...value, mode: 'edit', sourceImage: draft.image };
    default:
      return value;
  }
}

// The value of localGenerate. The local agent refuses its "edit" mode (it is
// reserved for precise local editing), so a whole-image change goes as a
// direct generation with the image attached as its source.
export function localRequest(draft) {
  refuseMask(draft, 'codex');
  const value = {
    requestId: draft.requestId,
    kind: 'image',
    agent: 'codex',
    mode: 'direct',
    text: draft.prompt,
    ratio: draft.ratio,
  };
  switch (draft.mode) {
    case 'template':
      return {
        ...value,
        mode: 'template',
        style: draft.template.id,
        styleName: draft.template.name,
        stylePrompt: draft.template.prompt,
        prompt: fillTemplate(draft.template, draft.prompt),
      };
    case 'reference':
      return { ...value, mode: 'reference', referenceImage: draft.image };
    case 'whole':
      return { ...value, sourceImage: draft.image };
    default:
      return value;
  }
}

// The prompt a finished work is remembered by: the one actually sent.
function sentPrompt(draft) {
  return draft.mode === 'template' && draft.template ? fillTemplate(draft.template, draft.prompt) : draft.prompt;
}

// The historySave value for a finished generation. The prompt is cut to what
// the store accepts, so a long template prompt never costs the finished work.
export function saveRequest({ result, draft, provider }) {
  const value = {
    image: result.image,
    prompt: firstCharacters(sentPrompt(draft), SAVED_PROMPT_LIMIT),
    ratio: draft.ratio,
    provider: result.agent || (provider === 'api' ? 'custom-api' : provider),
  };
  if (typeof result.model === 'string' && result.model) value.model = result.model;
  if (draft.parentId) value.parentId = draft.parentId;
  return value;
}

// What each provider can do, from apiStatus and the agents inventory.
export function providerChoices(status, inventory) {
  const codex = inventory?.agents?.find?.((agent) => agent.id === 'codex');
  const apiReady = status?.hasKey === true && Boolean(status.baseURL) && Boolean(status.model);
  const localReady = codex?.imageGeneration === true;
  return [
    {
      id: 'api',
      label: apiReady ? `图片服务 · ${status.model}` : '图片服务',
      icon: 'api',
      available: apiReady,
      takesImages: apiReady,
    },
    {
      id: 'codex',
      label: '本机 Codex',
      icon: 'codex',
      available: localReady,
      takesImages: localReady && codex?.operations?.imageToImage === true,
      reason: codex?.reason ?? '',
    },
  ];
}

// The provider to use: the remembered one when it is available, else the first available.
export function chooseProvider(choices, remembered) {
  const available = choices.filter((choice) => choice.available);
  return (available.find((choice) => choice.id === remembered) ?? available[0])?.id ?? null;
}

const SETUP_OPTION = '配置生成方式…';

// The selectMenu value for the provider menu, and what each index means.
export function providerMenu(choices, current, { x, y }) {
  const available = choices.filter((choice) => choice.available);
  const ids = [...available.map((choice) => choice.id), 'setup'];
  const value = {
    options: [...available.map((choice) => choice.label), SETUP_OPTION],
    icons: [...available.map((choice) => choice.icon), 'glimmet'],
    x: Math.round(x),
    y: Math.round(y),
  };
  const selected = ids.indexOf(current);
  if (selected >= 0) value.selected = selected;
  return { value, ids };
}
