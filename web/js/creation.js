// The creation surface: the captured text or image, the mode, the ratio and
// the way of generating, then one generation at a time with its progress,
// cancel and every refusal shown as the service worded it.

import { messageOf, onNative } from './native.js';
import {
  RATIOS,
  MASK_REFUSAL,
  modesFor,
  modeFromPayload,
  fitMode,
  draftProblem,
  apiRequest,
  localRequest,
  providerChoices,
  chooseProvider,
  providerMenu,
} from './generation.js';
import { createTemplateGallery } from './templates.js';
import { el } from './dom.js';
import { icon } from './icons.js';
import { readStored, storedKeys, writeStored } from './storage.js';

const IMAGE_LIMIT = 10 * 1024 * 1024;
const IMAGE_REFUSAL = '图片格式无效或超过 10 MB。';
const CREATION_WIDTH = 365;

const placeholders = {
  text: '描述想要的画面，或粘贴、拖入一张图片',
  whole: '描述想怎样调整这张图片',
  reference: '描述想要的画面，会参考这张图片的风格',
  mask: '描述想要的画面',
};

function readDataURL(file) {
  return new Promise((resolve, reject) => {
    const reader = new FileReader();
    reader.onload = () => resolve(reader.result);
    reader.onerror = () => reject(reader.error ?? new Error(IMAGE_REFUSAL));
    reader.readAsDataURL(file);
  });
}

// A row of radio buttons (arrow keys move the choice) built from [{id, label}].
function radioRow(container, test, onSelect) {
  let buttons = [];
  container.addEventListener('keydown', (event) => {
    const step = { ArrowRight: 1, ArrowDown: 1, ArrowLeft: -1, ArrowUp: -1 }[event.key];
    if (!step) return;
    event.preventDefault();
    const index = buttons.findIndex((item) => item === document.activeElement);
    const next = buttons[(index + step + buttons.length) % buttons.length];
    next.focus();
    onSelect(next.dataset.value);
  });
  let shownIds = '';
  return {
    // Rebuilds the buttons only when the choices change, so focus survives.
    render(items, selected) {
      const ids = items.map((item) => item.id).join('|');
      if (ids !== shownIds) {
        shownIds = ids;
        buttons = items.map((item) => {
          const radio = el('button', {
            type: 'button',
            className: 'choice',
            role: 'radio',
            test: `${test}-${item.id.replace(':', '-')}`,
            text: item.label,
          });
          radio.dataset.value = item.id;
          if (item.note) radio.append(el('span', { className: 'choice-note', text: item.note }));
          radio.addEventListener('click', () => onSelect(item.id));
          return radio;
        });
        container.replaceChildren(...buttons);
      }
      for (const radio of buttons) {
        const checked = radio.dataset.value === selected;
        radio.setAttribute('aria-checked', String(checked));
        radio.tabIndex = checked ? 0 : -1;
      }
    },
  };
}

// ctx: { native, navigate, island, task, onActivity(state, text) }
export function createCreation(ctx) {
  const { native, navigate, island, task } = ctx;

  const root = el('section', { className: 'surface creation', ariaLabel: '创作', test: 'surface-creation' });
  const captureError = el('p', { className: 'banner banner-error', role: 'alert', test: 'capture-error' });
  const source = el('p', { className: 'capture-source', test: 'capture-source' });

  const image = el('img', { alt: '待处理的图片' });
  const removeImage = el(
    'button',
    { type: 'button', className: 'icon-button working-image-remove', ariaLabel: '移除图片', test: 'image-remove' },
    [icon('close')],
  );
  const imageBox = el('figure', { className: 'working-image', test: 'working-image' }, [image, removeImage]);

  const promptLabel = el('label', { className: 'visually-hidden', htmlFor: 'creation-prompt', text: '画面描述' });
  const prompt = el('textarea', {
    className: 'prompt',
    id: 'creation-prompt',
    rows: 3,
    placeholder: placeholders.text,
    test: 'prompt',
  });

  const toolButton = (iconName, label, ariaLabel, test) =>
    el('button', { type: 'button', className: 'tool-button', ariaLabel, test }, [icon(iconName), el('span', { text: label })]);
  const paste = toolButton('paste', '粘贴', '粘贴剪贴板文字', 'paste');
  const pick = toolButton('image', '图片', '选择图片文件', 'pick-image');
  const fileInput = el('input', {
    className: 'visually-hidden',
    type: 'file',
    accept: 'image/png,image/jpeg,image/gif,image/webp,image/heic,image/tiff,image/bmp',
    tabIndex: -1,
    ariaHidden: 'true',
    test: 'image-input',
  });
  const tools = el('div', { className: 'creation-tools' }, [paste, pick, fileInput]);

  const modesLabel = el('span', { className: 'visually-hidden', id: 'creation-modes-label', text: '模式' });
  const modes = el('div', { className: 'segmented', role: 'radiogroup', ariaLabelledby: 'creation-modes-label', test: 'modes' });
  const modeNote = el('p', { className: 'mode-note', test: 'mode-note', ariaLive: 'polite' });
  const templateName = el('span', { className: 'template-choice-name', test: 'template-name' });
  const templateOpen = el('button', { type: 'button', className: 'link-button', test: 'template-open', text: '选择模板' });
  const templateRow = el('div', { className: 'template-choice' }, [templateName, templateOpen]);

  const ratiosLabel = el('span', { className: 'visually-hidden', id: 'creation-ratios-label', text: '比例' });
  const ratios = el('div', { className: 'ratios', role: 'radiogroup', ariaLabelledby: 'creation-ratios-label', test: 'ratios' });

  const providerText = el('span', { className: 'provider-text' });
  const provider = el('button', { type: 'button', className: 'provider-button', ariaHaspopup: 'menu', test: 'provider' }, [
    providerText,
    el('span', { className: 'provider-caret', text: '▾', ariaHidden: 'true' }),
  ]);
  const send = el('button', { type: 'button', className: 'send-button', ariaLabel: '生成', test: 'generate' }, [icon('sparkle')]);
  const footer = el('div', { className: 'creation-footer' }, [provider, send]);
  const hint = el('p', { className: 'send-hint', test: 'send-hint', ariaLive: 'polite' });

  const progressTrack = el('span', { className: 'progress-track', ariaHidden: 'true' }, [el('span', { className: 'progress-bar' })]);
  const progressText = el('span', { className: 'progress-text', role: 'status', test: 'progress-text' });
  const cancel = el('button', { type: 'button', className: 'secondary-button', test: 'cancel', text: '取消' });
  const progress = el('div', { className: 'progress', test: 'progress' }, [progressTrack, progressText, cancel]);

  const failure = el('p', { className: 'banner banner-error', role: 'alert', test: 'generation-error' });

  const gallery = createTemplateGallery({
    island,
    onChoose(template) {
      draft.template = template;
      draft.mode = 'template';
      render();
      prompt.focus();
    },
  });

  root.append(
    captureError,
    source,
    imageBox,
    promptLabel,
    prompt,
    tools,
    modesLabel,
    modes,
    modeNote,
    templateRow,
    ratiosLabel,
    ratios,
    footer,
    hint,
    progress,
    failure,
    gallery.element,
  );

  const draft = { mode: 'direct', ratio: '1:1', image: null, template: null, parentId: null };
  let status = null;
  let inventory = null;
  let loading = { api: false, agents: false };
  let chosen = readStored(storedKeys.provider);
  let busy = null;
  let elapsedTimer = 0;
  let imageLoad = 0;
  let galleryWanted = false;

  const modeRow = radioRow(modes, 'mode', (id) => {
    draft.mode = id;
    render();
    if (id === 'template' && !draft.template) gallery.open(null, CREATION_WIDTH);
  });
  const ratioRow = radioRow(ratios, 'ratio', (id) => {
    draft.ratio = id;
    render();
  });

  function choices() {
    return providerChoices(status, inventory);
  }

  function currentProvider() {
    return chooseProvider(choices(), chosen);
  }

  function snapshot() {
    return { ...draft, prompt: prompt.value };
  }

  function show(node, visible) {
    node.hidden = !visible;
  }

  function render() {
    const hasImage = Boolean(draft.image);
    draft.mode = fitMode(draft.mode, hasImage);
    const using = currentProvider();
    const maskNote = using ? MASK_REFUSAL[using] : MASK_REFUSAL.api;
    modeRow.render(
      modesFor(hasImage).map((mode) => (mode.id === 'mask' ? { ...mode, note: '暂不可用' } : mode)),
      draft.mode,
    );
    ratioRow.render(RATIOS.map((ratio) => ({ id: ratio, label: ratio })), draft.ratio);

    prompt.placeholder = placeholders[hasImage ? draft.mode : 'text'] ?? placeholders.text;
    show(imageBox, hasImage);
    if (hasImage && image.getAttribute('src') !== draft.image) image.src = draft.image;

    show(templateRow, draft.mode === 'template');
    templateName.textContent = draft.template ? `风格：${draft.template.name}` : '尚未选择风格';
    templateOpen.textContent = draft.template ? '更换模板' : '选择模板';

    const wantsReference = draft.mode === 'reference' && !hasImage;
    modeNote.textContent =
      draft.mode === 'mask' ? maskNote : wantsReference ? '拖入、粘贴或选择一张图片作为风格参考' : '';
    show(modeNote, modeNote.textContent !== '');

    const checking = (loading.api || loading.agents) && !using;
    providerText.textContent = checking
      ? '正在检查生成方式…'
      : choices().find((choice) => choice.id === using)?.label ?? '选择生成方式';
    provider.setAttribute('aria-label', `生成方式：${providerText.textContent}`);

    const problem = checking ? null : draftProblem(snapshot(), using);
    const blocked = Boolean(busy) || checking || Boolean(problem);
    send.disabled = blocked;
    // An empty prompt speaks through the placeholder, mask editing through its note.
    const quiet =
      draft.mode === 'mask' || (wantsReference && using) || (prompt.value.trim() === '' && using);
    hint.textContent = problem && !quiet ? problem : '';
    show(hint, hint.textContent !== '');

    prompt.disabled = Boolean(busy);
    for (const control of [paste, pick, removeImage, provider, templateOpen]) control.disabled = Boolean(busy);
    show(progress, Boolean(busy));
    if (busy) {
      const seconds = Math.floor((performance.now() - busy.started) / 1000);
      const starting = busy.provider === 'codex' && !busy.progressed;
      const who = busy.provider === 'codex' ? '本机 Codex' : '图片服务';
      const what = busy.cancelRequested ? '正在取消…' : starting ? '正在启动本机 Codex…' : `${who}正在生成图片…`;
      progressText.textContent = seconds > 0 ? `${what} ${seconds} 秒` : what;
      cancel.disabled = busy.cancelRequested;
    }
  }

  function showCaptureError(message) {
    captureError.textContent = message ?? '';
    show(captureError, Boolean(message));
  }

  function showFailure(message, kind = 'error') {
    failure.textContent = message ?? '';
    failure.classList.toggle('banner-info', kind === 'info');
    failure.setAttribute('role', kind === 'info' ? 'status' : 'alert');
    show(failure, Boolean(message));
  }

  function setImage(url, parentId = null) {
    imageLoad += 1;
    draft.image = url;
    draft.parentId = parentId;
    showCaptureError(null);
    render();
  }

  function clearImage() {
    imageLoad += 1;
    draft.image = null;
    draft.parentId = null;
    image.removeAttribute('src');
    render();
  }

  // Text fills the prompt, an image becomes the working image, an error is
  // shown as the capture worded it; a payload "mode" preselects the mode.
  function applyCapture(payload) {
    if (!payload || typeof payload !== 'object') return;
    const hasText = typeof payload.text === 'string' && payload.text !== '';
    const hasImage = typeof payload.image === 'string' && payload.image.startsWith('data:image/');
    showCaptureError(typeof payload.error === 'string' ? payload.error : null);
    source.textContent = payload.source && (hasText || hasImage) ? `来自 ${payload.source}` : '';
    show(source, source.textContent !== '');
    if (hasImage) {
      setImage(payload.image);
    } else if (hasText) {
      if (draft.image) clearImage();
      prompt.value = payload.text;
    }
    if (typeof payload.mode === 'string') draft.mode = modeFromPayload(payload.mode, Boolean(draft.image));
    else if (hasImage || hasText) draft.mode = fitMode(draft.mode, Boolean(draft.image));
    // The radial menu's 套用模板 opens the gallery when the surface shows.
    galleryWanted = draft.mode === 'template' && !draft.template;
    showFailure(null);
    render();
  }

  async function acceptFile(file) {
    if (!file) return;
    if (!file.type.startsWith('image/') || file.size > IMAGE_LIMIT) {
      showFailure(IMAGE_REFUSAL);
      return;
    }
    try {
      setImage(await readDataURL(file));
      showFailure(null);
    } catch (error) {
      showFailure(messageOf(error));
    }
  }

  // A library work (or a just finished result) used for derived work.
  async function useWork(work, mode) {
    const url = typeof work.imageURL === 'string' ? work.imageURL : '';
    const parentId = work.parentId ?? work.id ?? null;
    if (typeof work.prompt === 'string' && !prompt.value.trim()) prompt.value = work.prompt;
    if (url.startsWith('data:image/')) {
      setImage(url, parentId);
      draft.mode = mode;
      render();
      return;
    }
    // Only a data URL can go to the services: read the work's full image.
    const load = ++imageLoad;
    draft.image = null;
    draft.mode = mode;
    render();
    try {
      const data = work.id ? await native.historyImage(work.id) : null;
      if (load !== imageLoad) return;
      if (typeof data !== 'string') throw new Error(IMAGE_REFUSAL);
      setImage(data, parentId);
      draft.mode = mode;
      render();
    } catch (error) {
      if (load === imageLoad) showFailure(messageOf(error));
    }
  }

  async function refreshProviders() {
    loading = { api: true, agents: inventory === null };
    render();
    const api = Promise.resolve(native.apiStatus())
      .then((value) => (status = value))
      .catch(() => {})
      .finally(() => {
        loading.api = false;
        render();
      });
    const agents = Promise.resolve(native.agents())
      .then((value) => (inventory = value))
      .catch(() => {})
      .finally(() => {
        loading.agents = false;
        render();
      });
    await Promise.all([api, agents]);
  }

  async function chooseProviderFromMenu() {
    const box = provider.getBoundingClientRect();
    const { value, ids } = providerMenu(choices(), currentProvider(), { x: box.left, y: box.bottom + 4 });
    try {
      const index = await native.selectMenu(value);
      if (typeof index !== 'number' || !ids[index]) return;
      if (ids[index] === 'setup') {
        navigate('settings', { section: status?.hasKey ? 'agents' : 'api' });
        return;
      }
      chosen = ids[index];
      writeStored(storedKeys.provider, chosen);
      render();
    } catch (error) {
      showFailure(messageOf(error));
    }
  }

  function startElapsed() {
    clearInterval(elapsedTimer);
    elapsedTimer = setInterval(render, 1000);
  }

  async function generate(from = snapshot()) {
    if (busy) return;
    const using = currentProvider();
    const problem = draftProblem(from, using);
    if (problem) {
      showFailure(problem);
      return;
    }
    const request = { ...from, requestId: crypto.randomUUID() };
    let value;
    try {
      value = using === 'api' ? apiRequest(request) : localRequest(request);
    } catch (error) {
      showFailure(messageOf(error));
      return;
    }
    const taskId = task.start();
    busy = { taskId, provider: using, started: performance.now(), cancelRequested: false };
    showFailure(null);
    ctx.onActivity?.('working', '正在生成图片…');
    startElapsed();
    render();
    try {
      const result = using === 'api' ? await native.apiGenerate(value) : await native.localGenerate(value);
      if (!result || typeof result.image !== 'string') throw new Error('生成结果无效');
      busy = null;
      task.finish(taskId, 'done');
      ctx.onActivity?.('done', '新作品已就绪');
      navigate('result', { result, draft: request, provider: using });
    } catch (error) {
      const cancelled = busy?.cancelRequested === true;
      busy = null;
      const message = messageOf(error);
      if (cancelled) task.abandon(taskId);
      else task.finish(taskId, 'error');
      ctx.onActivity?.(cancelled ? 'idle' : 'error', message);
      showFailure(message, cancelled ? 'info' : 'error');
    } finally {
      clearInterval(elapsedTimer);
      render();
    }
  }

  async function cancelGeneration() {
    if (!busy || busy.cancelRequested) return;
    busy.cancelRequested = true;
    render();
    try {
      const cancelled = busy.provider === 'api' ? await native.apiCancel() : await native.cancelLocal();
      if (cancelled === false && busy) {
        busy.cancelRequested = false;
        render();
      }
    } catch (error) {
      if (busy) busy.cancelRequested = false;
      showFailure(messageOf(error));
      render();
    }
  }

  async function pasteText() {
    try {
      const text = await native.readClipboard();
      if (typeof text !== 'string' || text === '') {
        showFailure('剪贴板中没有文字，可以拖入或选择图片', 'info');
        return;
      }
      prompt.setRangeText(text, prompt.selectionStart, prompt.selectionEnd, 'end');
      showFailure(null);
      render();
      prompt.focus();
    } catch (error) {
      showFailure(messageOf(error));
    }
  }

  prompt.addEventListener('input', render);
  prompt.addEventListener('keydown', (event) => {
    if (event.key === 'Enter' && (event.metaKey || event.ctrlKey) && !event.isComposing) {
      event.preventDefault();
      generate();
    }
  });
  prompt.addEventListener('paste', (event) => {
    const file = [...(event.clipboardData?.files ?? [])].find((item) => item.type.startsWith('image/'));
    if (!file) return;
    event.preventDefault();
    acceptFile(file);
  });
  removeImage.addEventListener('click', () => {
    clearImage();
    prompt.focus();
  });
  paste.addEventListener('click', pasteText);
  pick.addEventListener('click', () => fileInput.click());
  fileInput.addEventListener('change', () => {
    acceptFile(fileInput.files?.[0]);
    fileInput.value = '';
  });
  templateOpen.addEventListener('click', () => gallery.open(draft.template?.id ?? null, CREATION_WIDTH));
  provider.addEventListener('click', chooseProviderFromMenu);
  send.addEventListener('click', () => generate());
  cancel.addEventListener('click', cancelGeneration);

  // A hidden panel must not keep the page modal: it would hold back the
  // compact task notice.
  onNative('plumora:hide', () => gallery.close());

  onNative('plumora:local-progress', (detail) => {
    if (!busy || busy.provider !== 'codex' || detail?.state !== 'generating') return;
    busy.progressed = true;
    render();
  });

  render();

  return {
    element: root,
    show(options = {}) {
      island.setWidth(gallery.isOpen ? 660 : CREATION_WIDTH);
      if (options.reference) useWork(options.reference, 'reference');
      else if (options.edit) useWork(options.edit, 'whole');
      if (options.draft) {
        Object.assign(draft, {
          mode: options.draft.mode,
          ratio: options.draft.ratio,
          image: options.draft.image,
          template: options.draft.template,
          parentId: options.draft.parentId,
        });
        prompt.value = options.draft.prompt;
        render();
      }
      if (galleryWanted && !busy) {
        galleryWanted = false;
        gallery.open(draft.template?.id ?? null, CREATION_WIDTH);
      }
      const ready = refreshProviders();
      if (options.run) ready.then(() => generate());
      if (!busy && !gallery.isOpen) prompt.focus({ preventScroll: true });
    },
    hide() {
      gallery.close();
    },
    applyCapture,
    acceptFile,
    get busy() {
      return busy !== null;
    },
  };
}
