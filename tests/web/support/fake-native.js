// The scripted native side of the page tests, loaded as a classic script
// right after the bridge script and before the page's own scripts. The test
// server prepends `const fakeConfig = {replies, panel};`.
//
// It stands in for the program's script-message handler "plumora": it records
// every posted envelope, drops unknown actions and malformed envelopes without
// a reply (as the program does), refuses the values the program refuses with
// the program's messages, and otherwise answers from the reply table through
// window.__plumoraResolve / window.__plumoraReject, always asynchronously.
//
// A reply is {resolve: value} | {reject: 'message'} | {hold: true} | {fake: name}
// (a computed answer, below), with an optional {delay: ms}. Held calls wait
// for window.__plumoraFake.answer(action, reply).
(() => {
  const actions = new Set([
    'previewSound', 'cloudRequest', 'cloudUpload', 'cloudAsset', 'cloudSaveAsset', 'cloudOpen',
    'cloudLogin', 'cloudPoll', 'cloudLogout', 'previewTrace', 'appearance', 'islandAnchor',
    'islandGeometry', 'templateModal', 'apiStatus', 'apiConfigure', 'apiCheck', 'apiGenerate',
    'apiCancel', 'prepareHistory', 'layoutHistory', 'selectMenu', 'fit', 'accessibility',
    'requestAccessibility', 'capture', 'clipboard', 'copyText', 'copyImage', 'settings', 'agents',
    'setupAgent', 'localGenerate', 'cancelLocal', 'present', 'hide', 'pin', 'taskState',
    'historyList', 'historyImage', 'historySave', 'libraryAction', 'libraryTrash', 'libraryMedia',
    'libraryPreview', 'libraryVideo', 'saveImage',
  ]);
  const ratios = ['1:1', '4:3', '3:4', '16:9', '9:16'];
  const replies = { ...fakeConfig.replies };
  const calls = [];
  const held = [];
  const errors = [];

  const isObject = (v) => v !== null && typeof v === 'object' && !Array.isArray(v);
  const isText = (v) => typeof v === 'string';
  const filled = (v) => isText(v) && v.trim() !== '';
  const finite = (v) => typeof v === 'number' && Number.isFinite(v);
  const uuidPattern = /^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$/i;
  const chars = (text) => [...new Intl.Segmenter().segment(text)].length;
  const clone = (v) => (v === undefined ? undefined : JSON.parse(JSON.stringify(v)));
  const uuid = () => crypto.randomUUID();

  // A gradient PNG data URL of the given size, drawn by the page itself.
  function imageURL(width, height, seed = 0) {
    const canvas = document.createElement('canvas');
    canvas.width = width;
    canvas.height = height;
    const g = canvas.getContext('2d');
    const hue = (seed * 47) % 360;
    const gradient = g.createLinearGradient(0, 0, width, height);
    gradient.addColorStop(0, `hsl(${hue} 55% 62%)`);
    gradient.addColorStop(1, `hsl(${(hue + 60) % 360} 60% 38%)`);
    g.fillStyle = gradient;
    g.fillRect(0, 0, width, height);
    return canvas.toDataURL('image/png');
  }
  const sizeOf = (ratio) => {
    const [w, h] = (ratios.includes(ratio) ? ratio : '1:1').split(':').map(Number);
    return w >= h ? [512, Math.round((512 * h) / w)] : [Math.round((512 * w) / h), 512];
  };
  const seedOf = (text) => [...String(text)].reduce((s, c) => (s * 31 + c.codePointAt(0)) % 9973, 0);
  const listed = () => (Array.isArray(replies.historyList?.resolve) ? replies.historyList.resolve : []);
  const entryOf = (id) => listed().find((entry) => entry?.id?.toLowerCase() === String(id).toLowerCase());
  const heldOf = (action) => held.find((call) => call.action === action);

  // The program's own refusals, checked before the reply table.
  const refusals = {
    appearance: (v) => (['system', 'light', 'dark'].includes(v) ? null : { fixed: '外观选项无效' }),
    islandGeometry: (v) => {
      if (!isObject(v)) return { resolve: false };
      const { x, y, width, height } = v;
      const valid =
        [x, y, width, height].every(finite) && x >= 0 && y >= 0 && width >= 1 && height >= 1 &&
        x + width <= fakeConfig.panel.width + 1 && y + height <= fakeConfig.panel.height + 1;
      return valid ? null : { resolve: false };
    },
    selectMenu: (v) => {
      const options = v?.options;
      const valid =
        isObject(v) && Array.isArray(options) && options.length >= 1 && options.length <= 100 &&
        options.every((o) => isText(o) && chars(o) <= 200) && finite(v.x) && finite(v.y) &&
        (v.icons === undefined || (Array.isArray(v.icons) && v.icons.every(isText))) &&
        (v.selected === undefined || Number.isInteger(v.selected));
      return valid ? null : { fixed: '菜单参数无效' };
    },
    taskState: (v) => (isObject(v) && isText(v.state) ? null : { resolve: false }),
    historySave: (v) => {
      if (!isObject(v)) return { reject: '历史参数无效' };
      const image = v.image;
      const comma = isText(image) ? image.indexOf(',') : -1;
      if (!isText(image) || !image.startsWith('data:image/') || !image.slice(0, comma).includes(';base64') ||
          !isText(v.prompt) || chars(v.prompt) > 10000) {
        return { reject: '历史记录无效' };
      }
      if (isText(v.parentId) && !uuidPattern.test(v.parentId)) return { reject: '原作品编号无效' };
      return null;
    },
    historyImage: (v) => (isText(v) ? null : { reject: '历史参数无效' }),
    libraryAction: (v) => {
      if (!isObject(v) || !isText(v.id) || !['copy', 'copyPath', 'reveal', 'rename'].includes(v.action)) {
        return { fixed: '资源操作无效' };
      }
      if (v.action !== 'rename') return null;
      if (!isText(v.name)) return { reject: '请输入作品名称' };
      const name = v.name.trim();
      return name && chars(name) <= 200 && !/[\u0000-\u001f\u007f-\u009f]/.test(name)
        ? null
        : { reject: '名称需为 1–200 个字符，且不能包含控制字符' };
    },
    libraryTrash: (v) => {
      const ids = v?.ids;
      const valid = Array.isArray(ids) && ids.length >= 1 && ids.length <= 500 &&
        ids.every(isText) && new Set(ids).size === ids.length;
      return valid ? null : { fixed: '清理列表无效' };
    },
    apiGenerate: (v) => {
      if (!isObject(v) || v.kind !== 'image') return { reject: '只支持图片生成，参考图片参数无效' };
      const mode = v.mode === undefined || !isText(v.mode) ? 'direct' : v.mode;
      if (!['direct', 'template', 'reference', 'edit'].includes(mode) || 'mask' in v) {
        return { reject: '当前图片 API 不支持此模式或局部蒙版' };
      }
      const { sourceImage: source, referenceImage: reference } = v;
      if ((source !== undefined && !isText(source)) || (reference !== undefined && !isText(reference))) {
        return { reject: '图片参数无效' };
      }
      if (mode === 'reference' && !(reference && source === undefined)) return { reject: '请添加风格参考图' };
      if (mode === 'edit' && !(source && reference === undefined)) return { reject: '请添加待调整原图' };
      if ((mode === 'direct' || mode === 'template') && (source !== undefined || reference !== undefined)) {
        return { reject: '图片需要选择参考风格或二次调整' };
      }
      const prompt = isText(v.prompt) ? v.prompt : '';
      if (!prompt.trim() || chars(prompt) > 12000 || !ratios.includes(v.ratio)) {
        return { reject: '图片请求的文字或比例无效' };
      }
      return null;
    },
    localGenerate: (v) => {
      const allowed = ['requestId', 'kind', 'mode', 'text', 'style', 'styleName', 'stylePrompt', 'ratio',
        'referenceImage', 'sourceImage', 'mask', 'prompt', 'image', 'reference', 'agent'];
      if (!isObject(v)) return { fixed: '当前任务尚未完成或参数无效' };
      const valid = Object.keys(v).length > 0 && Object.keys(v).every((k) => allowed.includes(k)) &&
        filled(v.text) && chars(v.text) <= 10000 &&
        ['direct', 'template', 'reference', 'edit'].includes(v.mode) && ratios.includes(v.ratio) &&
        (v.agent === undefined || v.agent === 'codex') && (v.kind === undefined || v.kind === 'image');
      if (!valid) return { reject: '本机生成参数无效，请检查文字、模式和比例。' };
      const optional = (key, ok, message) => (v[key] === undefined || v[key] === null || ok(v[key]) ? null : message);
      const refusal =
        optional('prompt', (p) => filled(p) && chars(p) <= 12000, '模板提示词格式无效或超过 12000 字。') ??
        optional('style', (s) => isText(s) && chars(s) <= 200, '模板标识格式无效。') ??
        (v.stylePrompt !== undefined && !(filled(v.stylePrompt) && chars(v.stylePrompt) <= 3000 && isText(v.style))
          ? '风格描述词格式无效或超过 3000 字。' : null) ??
        (v.styleName !== undefined && !(filled(v.styleName) && chars(v.styleName) <= 240 && isText(v.stylePrompt))
          ? '风格名称格式无效。' : null) ??
        (v.mask !== undefined && v.mask !== null && v.mask !== '' ? '本机 Agent 尚未验证精确遮罩编辑。' : null) ??
        (['sourceImage', 'referenceImage', 'image', 'reference'].some((k) => v[k] !== undefined && v[k] !== null && !isText(v[k]))
          ? '图片参数格式无效。' : null) ??
        optional('requestId', (r) => isText(r) && chars(r) <= 200, '任务标识格式无效。') ??
        (v.mode === 'edit' ? '本机 CLI 尚未验证精确局部编辑，不会把整体改图当作局部编辑。' : null);
      return refusal ? { reject: refusal } : null;
    },
  };

  // Computed answers ({fake: name}) that depend on the call's value or on
  // other replies, so the page sees a consistent native side by default.
  const computed = {
    appearance: (v) => ({
      resolve: {
        preference: v,
        theme: v === 'system' ? (matchMedia('(prefers-color-scheme: dark)').matches ? 'dark' : 'light') : v,
      },
    }),
    apiConfigure: (v) => {
      const before = replies.apiStatus?.resolve ?? {};
      const status = {
        baseURL: isText(v?.baseURL) ? v.baseURL : before.baseURL ?? '',
        model: isText(v?.model) ? v.model : before.model ?? '',
        hasKey: filled(v?.key) || Boolean(before.hasKey),
        verified: false,
      };
      replies.apiStatus = { resolve: status };
      return { resolve: status };
    },
    apiCheck: () => {
      const status = replies.apiStatus?.resolve ?? {};
      if (!isText(status.baseURL) || !status.baseURL.startsWith('https://')) {
        return { reject: '请输入 HTTPS Base URL，不含密钥、查询参数或账号密码' };
      }
      if (!status.hasKey) return { reject: '请在配置中填写 API Key，并允许 Glimmet 访问钥匙串' };
      return { resolve: status };
    },
    apiGenerate: (v) => {
      const [width, height] = sizeOf(v?.ratio);
      return {
        resolve: {
          image: imageURL(width, height, seedOf(v?.prompt)),
          agent: 'custom-api',
          model: replies.apiStatus?.resolve?.model || 'gpt-image-1',
          width,
          height,
          taskId: uuid().toUpperCase(),
        },
        delay: 150,
      };
    },
    apiCancel: () => {
      const running = heldOf('apiGenerate');
      if (!running) return { resolve: false };
      settle(running, { reject: '任务已取消。服务商可能已开始处理，请在服务商账户查看用量。' });
      return { resolve: true };
    },
    localGenerate: (v, call) => {
      const taskId = uuid();
      call.taskId = taskId;
      // The program reports progress once the run has started, never inside the call.
      setTimeout(() => emit('plumora:local-progress', { taskId, state: 'generating', agent: 'codex' }), 50);
      const [width, height] = sizeOf(v?.ratio);
      return {
        resolve: { image: imageURL(width, height, seedOf(v?.text)), agent: 'codex', taskId, width, height, plumoraCredits: 0 },
        delay: 300,
      };
    },
    cancelLocal: () => {
      const running = heldOf('localGenerate');
      if (!running) return { resolve: false };
      settle(running, { reject: '本机生成已取消。' });
      return { resolve: true };
    },
    historySave: (v) => {
      const [width, height] = sizeOf(v.ratio);
      const entry = {
        id: uuid().toUpperCase(),
        title: [...new Intl.Segmenter().segment(v.prompt)].slice(0, 24).map((s) => s.segment).join(''),
        prompt: v.prompt,
        createdAt: new Date().toISOString().replace(/\.\d+Z$/, 'Z'),
        version: Number.isInteger(v.version) ? Math.min(Math.max(v.version, 1), 9999) : 1,
        requestedRatio: isText(v.ratio) ? v.ratio.slice(0, 10) : '1:1',
        ratio: v.ratio && ratios.includes(v.ratio) ? v.ratio : '1:1',
        width,
        height,
        thumbnail: v.image,
        kind: 'image',
        available: true,
        fileBytes: Math.round((v.image.length * 3) / 4),
        storedBytes: Math.round(v.image.length * 1.6),
        allocatedBytes: Math.round(v.image.length * 1.6) + 4096,
      };
      for (const key of ['parentId', 'provider', 'model']) if (isText(v[key])) entry[key] = v[key].slice(0, 128);
      return { resolve: entry };
    },
    historyImage: (id) => {
      const entry = entryOf(id);
      if (entry?.kind === 'video') return { reject: '视频不能作为图片读取' };
      return { resolve: imageURL(entry?.width ?? 512, entry?.height ?? 512, seedOf(id)) };
    },
    libraryMedia: (id) => {
      const entry = entryOf(id);
      if (entry?.kind === 'video') return { resolve: `plumora-video:${id}` };
      return { resolve: imageURL(entry?.width ?? 512, entry?.height ?? 512, seedOf(id)) };
    },
    libraryPreview: (id) => {
      const entry = entryOf(id);
      if (entry?.kind === 'video') return { resolve: `plumora-video:${id}` };
      return { resolve: `${location.origin}/history-preview/${encodeURIComponent(id)}/image.png` };
    },
    libraryTrash: (v) => {
      const removed = [];
      const failed = [];
      let removedBytes = 0;
      for (const id of v.ids) {
        const entry = entryOf(id);
        if (entry || listed().length === 0) {
          removed.push(id);
          removedBytes += entry?.allocatedBytes ?? 0;
        } else {
          failed.push({ id, message: '资源记录无效' });
        }
      }
      return { resolve: { removed, failed, removedBytes } };
    },
  };

  function respond(id, reply) {
    if ('resolve' in reply) window.__plumoraResolve(id, clone(reply.resolve) ?? null);
    else window.__plumoraReject(id, String(reply.reject));
  }

  // Answers one recorded call with a reply (resolving computed ones first).
  function settle(call, reply) {
    const index = held.indexOf(call);
    if (index >= 0) held.splice(index, 1);
    let answer = reply;
    if (reply.fake) {
      if (!computed[reply.fake]) throw new Error(`no computed reply "${reply.fake}"`);
      answer = computed[reply.fake](call.value, call);
    }
    if (answer.hold) {
      held.push(call);
      return;
    }
    const delay = reply.delay ?? answer.delay ?? 0;
    if (answer.fixed !== undefined) {
      // The program's fixed-text rejection: a single-quoted message.
      setTimeout(() => window.__plumoraReject(call.id, answer.fixed), delay);
      return;
    }
    setTimeout(() => respond(call.id, answer), delay);
  }

  function emit(name, detail) {
    window.dispatchEvent(detail === undefined ? new Event(name) : new CustomEvent(name, { detail: clone(detail) }));
  }

  function postMessage(envelope) {
    const body = clone(envelope);
    const valid = isObject(body) && Number.isInteger(body.id) && isText(body.action);
    const call = { action: valid ? body.action : null, id: body?.id, value: body?.value ?? null, at: performance.now() };
    calls.push(call);
    if (!valid || !actions.has(call.action)) return;
    const refusal = refusals[call.action]?.(call.value);
    settle(call, refusal ?? replies[call.action] ?? { resolve: null });
  }

  window.webkit = { messageHandlers: { plumora: { postMessage } } };

  window.addEventListener('error', (event) => {
    const target = event.target;
    if (target && target !== window && (target.src || target.href)) {
      errors.push(`failed to load ${target.src || target.href}`);
    } else {
      errors.push(`${event.message} (${event.filename}:${event.lineno})`);
    }
  }, true);
  window.addEventListener('unhandledrejection', (event) => {
    errors.push(`unhandled rejection: ${event.reason?.message ?? event.reason}`);
  });
  // Faults the page catches and logs still count.
  const consoleError = console.error.bind(console);
  console.error = (...parts) => {
    errors.push(`console.error: ${parts.map((p) => (p instanceof Error ? p.stack || p.message : String(p))).join(' ')}`);
    consoleError(...parts);
  };

  window.__plumoraFake = {
    calls: (action) => calls.filter((call) => action === undefined || call.action === action),
    held: (action) => held.filter((call) => action === undefined || call.action === action).map((c) => c.id),
    reply(action, reply) {
      replies[action] = reply;
    },
    // Answers the oldest held call of the action; false when none is held.
    answer(action, reply) {
      const call = heldOf(action);
      if (!call) return false;
      settle(call, reply);
      return true;
    },
    emit,
    errors: () => errors.slice(),
  };
})();
