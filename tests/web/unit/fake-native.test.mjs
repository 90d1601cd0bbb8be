// The scripted native side outside a browser: refusals use the program's
// texts, replies follow the table, held calls wait, cancels end held work.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';
import { runInNewContext } from 'node:vm';

import { replyTable } from '../support/replies.mjs';

const source = readFileSync(new URL('../support/fake-native.js', import.meta.url), 'utf8');

// Values from the fake's own realm, as plain values of this one.
const plain = (value) => JSON.parse(JSON.stringify(value));

// Loads the fake into a bare context; answer(id) resolves with what it sent.
function loadFake(replies = {}) {
  const sent = new Map();
  const waiting = new Map();
  const record = (id, reply) => {
    const answer = plain(reply);
    sent.set(id, answer);
    waiting.get(id)?.(answer);
  };
  const window = {
    __plumoraResolve: (id, value) => record(id, { resolve: value }),
    __plumoraReject: (id, message) => record(id, { reject: message }),
    addEventListener() {},
    dispatchEvent(event) {
      window.events.push([event.type, event.detail]);
    },
    events: [],
  };
  class Event {
    constructor(type) {
      this.type = type;
    }
  }
  class CustomEvent extends Event {
    constructor(type, { detail }) {
      super(type);
      this.detail = detail;
    }
  }
  const context = {
    window, Event, CustomEvent, console, setTimeout, crypto, Intl, performance,
    location: { origin: 'http://127.0.0.1:1' },
    fakeConfig: { replies: replyTable(replies), panel: { width: 748, height: 780 } },
  };
  runInNewContext(source, context);
  let id = 0;
  return {
    fake: window.__plumoraFake,
    window,
    post(action, value) {
      const envelope = { action, id: ++id, value };
      window.webkit.messageHandlers.plumora.postMessage(envelope);
      return envelope.id;
    },
    answer: (callId) =>
      sent.has(callId) ? Promise.resolve(sent.get(callId)) : new Promise((resolve) => waiting.set(callId, resolve)),
    sent,
  };
}

const settle = () => new Promise((resolve) => setTimeout(resolve, 20));

test('values the program refuses get its own answer', async () => {
  const data = 'data:image/png;base64,AAAA';
  const rows = [
    ['appearance', 'Dark', { reject: '外观选项无效' }],
    ['appearance', 'dark', { resolve: { preference: 'dark', theme: 'dark' } }],
    ['islandGeometry', { x: 263, y: 0, width: 222, height: 38 }, { resolve: true }],
    ['islandGeometry', { x: 700, y: 0, width: 50, height: 38 }, { resolve: false }],
    ['islandGeometry', { x: 0, y: 0, width: 0.5, height: 38 }, { resolve: false }],
    ['selectMenu', { options: ['本机 Codex', '图片服务'], x: 10, y: 20, icons: ['codex', 'api'] }, { resolve: null }],
    ['selectMenu', { options: [], x: 10, y: 20 }, { reject: '菜单参数无效' }],
    ['selectMenu', { options: ['a'.repeat(201)], x: 10, y: 20 }, { reject: '菜单参数无效' }],
    ['libraryTrash', { ids: ['X', 'X'] }, { reject: '清理列表无效' }],
    ['libraryAction', { id: 'X', action: 'move' }, { reject: '资源操作无效' }],
    ['libraryAction', { id: 'X', action: 'rename' }, { reject: '请输入作品名称' }],
    ['libraryAction', { id: 'X', action: 'rename', name: '   ' }, { reject: '名称需为 1–200 个字符，且不能包含控制字符' }],
    ['libraryAction', { id: 'X', action: 'rename', name: '灯塔' }, { resolve: { ok: true } }],
    ['historySave', { image: 'https://x/y.png', prompt: 'p' }, { reject: '历史记录无效' }],
    ['historySave', { image: data, prompt: 'p', parentId: 'nope' }, { reject: '原作品编号无效' }],
    ['apiGenerate', { prompt: 'p', ratio: '1:1' }, { reject: '只支持图片生成，参考图片参数无效' }],
    ['apiGenerate', { kind: 'image', mode: 'reference', prompt: 'p', ratio: '1:1' }, { reject: '请添加风格参考图' }],
    ['apiGenerate', { kind: 'image', mode: 'edit', sourceImage: data, referenceImage: data, prompt: 'p', ratio: '1:1' }, { reject: '请添加待调整原图' }],
    ['apiGenerate', { kind: 'image', mode: 'direct', referenceImage: data, prompt: 'p', ratio: '1:1' }, { reject: '图片需要选择参考风格或二次调整' }],
    ['apiGenerate', { kind: 'image', mode: 'direct', prompt: '  ', ratio: '1:1' }, { reject: '图片请求的文字或比例无效' }],
    ['apiGenerate', { kind: 'image', mode: 'direct', prompt: 'p', ratio: '2:1' }, { reject: '图片请求的文字或比例无效' }],
    ['localGenerate', { text: 'p', mode: 'direct', ratio: '1:1', extra: 1 }, { reject: '本机生成参数无效，请检查文字、模式和比例。' }],
    ['localGenerate', { text: 'p', mode: 'template', ratio: '1:1', styleName: '水彩' }, { reject: '风格名称格式无效。' }],
    ['localGenerate', { text: 'p', mode: 'edit', ratio: '1:1', sourceImage: data }, { reject: '本机 CLI 尚未验证精确局部编辑，不会把整体改图当作局部编辑。' }],
  ];
  const { post, answer } = loadFake();
  for (const [action, value, expected] of rows) {
    assert.deepEqual(await answer(post(action, value)), expected, `${action} ${JSON.stringify(value)}`);
  }
});

test('unknown actions and malformed envelopes are recorded and never answered', async () => {
  const { post, fake, window, sent } = loadFake();
  post('openFile', null);
  window.webkit.messageHandlers.plumora.postMessage({ action: 'capture', id: '7', value: null });
  await settle();
  assert.equal(sent.size, 0);
  assert.equal(fake.calls().length, 2);
});

test('held calls wait for an answer, and cancelling ends the held generation', async () => {
  const { post, answer, fake, sent } = loadFake({ apiGenerate: { hold: true }, localGenerate: { hold: true } });
  const request = { kind: 'image', mode: 'direct', prompt: '灯塔', ratio: '16:9' };
  const generation = post('apiGenerate', request);
  await settle();
  assert.equal(sent.has(generation), false);
  assert.deepEqual(await answer(post('apiCancel', null)), { resolve: true });
  assert.deepEqual(await answer(generation), { reject: '任务已取消。服务商可能已开始处理，请在服务商账户查看用量。' });
  assert.deepEqual(await answer(post('apiCancel', null)), { resolve: false });

  const local = post('localGenerate', { text: '灯塔', mode: 'direct', ratio: '1:1' });
  await settle();
  assert.deepEqual(plain(fake.held('localGenerate')), [local]);
  assert.equal(fake.answer('localGenerate', { resolve: { image: 'data:image/png;base64,AAAA' } }), true);
  assert.deepEqual(await answer(local), { resolve: { image: 'data:image/png;base64,AAAA' } });
  assert.equal(fake.answer('localGenerate', { resolve: 1 }), false);
  assert.deepEqual(plain(fake.calls('apiGenerate')[0].value), request);
});

test('the default image service follows what the page configured', async () => {
  const { post, answer } = loadFake();
  assert.deepEqual(await answer(post('apiCheck', null)), { reject: '请输入 HTTPS Base URL，不含密钥、查询参数或账号密码' });
  const configured = await answer(post('apiConfigure', { baseURL: 'https://img.example/v1', model: 'm', key: 'k' }));
  assert.deepEqual(configured, { resolve: { baseURL: 'https://img.example/v1', model: 'm', hasKey: true, verified: false } });
  assert.deepEqual(await answer(post('apiStatus', null)), configured);
  assert.deepEqual(await answer(post('apiCheck', null)), configured);
});
