// The result surface: the new image at its own ratio, saved to the library at
// once, with copy, save as, generate again, derived work and the library.

import { messageOf } from './native.js';
import { saveRequest } from './generation.js';

const RESULT_WIDTH = 540;

function button(label, test) {
  const node = document.createElement('button');
  node.type = 'button';
  node.className = 'secondary-button';
  node.textContent = label;
  node.dataset.test = test;
  return node;
}

// ctx: { native, navigate, island, regenerate(draft), onSaved() }
export function createResult(ctx) {
  const { native, navigate, island, onSaved } = ctx;

  const root = document.createElement('section');
  root.className = 'surface result';
  root.dataset.test = 'surface-result';
  root.setAttribute('aria-label', '新作品');

  const figure = document.createElement('figure');
  figure.className = 'result-figure';
  const image = document.createElement('img');
  image.dataset.test = 'result-image';
  figure.append(image);

  const meta = document.createElement('p');
  meta.className = 'result-meta';
  meta.dataset.test = 'result-meta';

  const saveLine = document.createElement('div');
  saveLine.className = 'result-save';
  const saveText = document.createElement('span');
  saveText.setAttribute('role', 'status');
  saveText.dataset.test = 'result-save';
  const retry = button('重新保存', 'result-save-retry');
  saveLine.append(saveText, retry);

  const actions = document.createElement('div');
  actions.className = 'result-actions';
  const copy = button('复制', 'result-copy');
  const saveAs = button('另存为', 'result-save-as');
  const again = button('再次生成', 'result-again');
  const reference = button('作为参考', 'result-reference');
  const adjust = button('调整', 'result-adjust');
  const openLibrary = button('在作品库中打开', 'result-open-library');
  actions.append(copy, saveAs, again, reference, adjust, openLibrary);

  const feedback = document.createElement('p');
  feedback.className = 'result-feedback';
  feedback.setAttribute('role', 'status');
  feedback.dataset.test = 'result-feedback';

  root.append(figure, meta, saveLine, actions, feedback);

  let shown = null;
  let saved = null;
  let saving = 0;

  function tell(message) {
    feedback.textContent = message ?? '';
  }

  function renderSave(state, message) {
    saveLine.dataset.state = state;
    saveText.textContent = message;
    retry.hidden = state !== 'failed';
    openLibrary.disabled = !saved;
  }

  async function save() {
    const token = ++saving;
    saved = null;
    renderSave('saving', '正在保存到作品库…');
    try {
      const entry = await native.historySave(saveRequest(shown));
      if (token !== saving) return;
      if (!entry || typeof entry.id !== 'string') throw new Error('历史记录无效');
      saved = entry;
      renderSave('saved', '已保存到作品库');
      onSaved?.();
    } catch (error) {
      if (token === saving) renderSave('failed', messageOf(error));
    }
  }

  function derived(mode) {
    const work = { imageURL: shown.result.image, prompt: shown.draft.prompt };
    if (saved) Object.assign(work, { id: saved.id, parentId: saved.id });
    navigate('creation', { [mode]: work });
  }

  copy.addEventListener('click', async () => {
    try {
      tell((await native.copyImage(shown.result.image)) === true ? '已复制图片' : '无法复制这张图片');
    } catch (error) {
      tell(messageOf(error));
    }
  });
  saveAs.addEventListener('click', async () => {
    try {
      tell((await native.saveImage(shown.result.image)) === true ? '已另存' : '');
    } catch (error) {
      tell(messageOf(error));
    }
  });
  again.addEventListener('click', () => ctx.regenerate(shown.draft));
  reference.addEventListener('click', () => derived('reference'));
  adjust.addEventListener('click', () => derived('edit'));
  openLibrary.addEventListener('click', () => saved && navigate('library', { select: saved.id }));
  retry.addEventListener('click', save);

  return {
    element: root,
    // options: { result, draft, provider } of a finished generation; without
    // them the last result stays (coming back from another surface).
    show(options = {}) {
      island.setWidth(RESULT_WIDTH);
      if (!options.result) return;
      shown = options;
      const { result, draft } = options;
      tell('');
      image.src = result.image;
      image.alt = `生成的图片：${draft.prompt.slice(0, 60)}`;
      // The intrinsic size keeps the image at its ratio while it decodes.
      if (result.width > 0 && result.height > 0) {
        image.width = result.width;
        image.height = result.height;
      } else {
        image.removeAttribute('width');
        image.removeAttribute('height');
      }
      const size = result.width && result.height ? `${result.width}×${result.height}` : '';
      const by = options.provider === 'codex' ? '本机 Codex' : `图片服务${result.model ? ` · ${result.model}` : ''}`;
      meta.textContent = [draft.ratio, size, by].filter(Boolean).join(' · ');
      save();
      copy.focus({ preventScroll: true });
    },
    hide() {},
  };
}
