import assert from 'node:assert/strict';
import { test } from 'node:test';

import {
  apiRequest, chooseProvider, draftProblem, localRequest, modeFromPayload, providerChoices, providerMenu, saveRequest,
} from '../../../web/js/generation.js';
import { templateById } from '../../../web/js/templates.js';

const image = 'data:image/png;base64,iVBORw0KGgo=';
const watercolor = templateById('watercolor');
const draft = (overrides) => ({
  mode: 'direct',
  prompt: '海边的灯塔',
  ratio: '16:9',
  image: null,
  template: null,
  parentId: null,
  requestId: 'R1',
  ...overrides,
});

test('every mode is shaped exactly for the image service and the local agent', () => {
  const filled = `海边的灯塔\n\n风格：${watercolor.prompt}`;
  const local = { requestId: 'R1', kind: 'image', agent: 'codex', text: '海边的灯塔', ratio: '16:9' };
  const rows = [
    [draft(), { kind: 'image', mode: 'direct', prompt: '海边的灯塔', ratio: '16:9' }, { ...local, mode: 'direct' }],
    [
      draft({ mode: 'template', template: watercolor }),
      { kind: 'image', mode: 'template', prompt: filled, ratio: '16:9' },
      {
        ...local,
        mode: 'template',
        style: 'watercolor',
        styleName: '水彩插画',
        stylePrompt: watercolor.prompt,
        prompt: filled,
      },
    ],
    [
      draft({ mode: 'reference', image }),
      { kind: 'image', mode: 'reference', prompt: '海边的灯塔', ratio: '16:9', referenceImage: image },
      { ...local, mode: 'reference', referenceImage: image },
    ],
    [
      draft({ mode: 'whole', image }),
      { kind: 'image', mode: 'edit', prompt: '海边的灯塔', ratio: '16:9', sourceImage: image },
      { ...local, mode: 'direct', sourceImage: image },
    ],
  ];
  for (const [input, api, agent] of rows) {
    assert.deepEqual(apiRequest(input), api, `api ${input.mode}`);
    assert.deepEqual(localRequest(input), agent, `local ${input.mode}`);
  }
  assert.throws(() => apiRequest(draft({ mode: 'mask', image })), { message: '当前图片 API 不支持此模式或局部蒙版' });
  assert.throws(() => localRequest(draft({ mode: 'mask', image })), { message: '本机 Agent 尚未验证精确遮罩编辑。' });
});

test('capture modes map to page modes, drafts that cannot go out say why', () => {
  const modes = [
    ['template', false, 'template'],
    ['edit', false, 'direct'],
    ['edit', true, 'mask'],
    ['direct', true, 'whole'],
  ];
  for (const [mode, hasImage, expected] of modes) assert.equal(modeFromPayload(mode, hasImage), expected);

  const problems = [
    [draft(), 'api', null],
    [draft(), null, '请先在设置中配置图片服务或本机 Agent'],
    [draft({ prompt: '   ' }), 'api', '请先写下想要的画面'],
    [draft({ prompt: '', image, mode: 'whole' }), 'codex', '请写下想怎样调整这张图片'],
    [draft({ mode: 'template' }), 'api', '请选择一个模板风格'],
    [draft({ mode: 'reference' }), 'codex', '请添加风格参考图'],
    [draft({ mode: 'mask', image }), 'codex', '本机 Agent 尚未验证精确遮罩编辑。'],
  ];
  for (const [input, provider, expected] of problems) assert.equal(draftProblem(input, provider), expected);
});

test('providers come from the service status and the agent inventory', () => {
  const status = { baseURL: 'https://images.example/v1', model: 'gpt-image-1', hasKey: true, verified: true };
  const codex = { id: 'codex', imageGeneration: true, operations: { imageToImage: true }, reason: '已验证本机生成图片' };
  const both = providerChoices(status, { agents: [codex] });
  assert.deepEqual(both.map((choice) => [choice.id, choice.available, choice.label]), [
    ['api', true, '图片服务 · gpt-image-1'],
    ['codex', true, '本机 Codex'],
  ]);
  assert.equal(chooseProvider(both, 'codex'), 'codex');
  assert.equal(chooseProvider(both, 'gone'), 'api');

  const none = providerChoices({ ...status, hasKey: false }, { agents: [{ ...codex, imageGeneration: false }] });
  assert.equal(chooseProvider(none, 'api'), null);

  const { value, ids } = providerMenu(both, 'codex', { x: 12.4, y: 300.6 });
  assert.deepEqual(value, {
    options: ['图片服务 · gpt-image-1', '本机 Codex', '配置生成方式…'],
    icons: ['api', 'codex', 'glimmet'],
    x: 12,
    y: 301,
    selected: 1,
  });
  assert.deepEqual(ids, ['api', 'codex', 'setup']);
  // The first method is marked too.
  assert.equal(providerMenu(both, 'api', { x: 0, y: 0 }).value.selected, 0);
  assert.deepEqual(providerMenu(none, null, { x: 0, y: 0 }).value.options, ['配置生成方式…']);
});

test('a finished work is saved with its prompt, ratio, provider, model and parent', () => {
  const result = { image, agent: 'custom-api', model: 'gpt-image-1', width: 1536, height: 1024, taskId: 'T' };
  assert.deepEqual(saveRequest({ result, draft: draft({ parentId: 'A1B2' }), provider: 'api' }), {
    image,
    prompt: '海边的灯塔',
    ratio: '16:9',
    provider: 'custom-api',
    model: 'gpt-image-1',
    parentId: 'A1B2',
  });
  const local = saveRequest({
    result: { image, agent: 'codex', taskId: 't', width: 1, height: 1, plumoraCredits: 0 },
    draft: draft({ mode: 'template', template: watercolor, prompt: '猫'.repeat(10005) }),
    provider: 'codex',
  });
  assert.equal(local.provider, 'codex');
  assert.ok(!('model' in local) && !('parentId' in local));
  assert.equal([...local.prompt].length, 10000);
});
