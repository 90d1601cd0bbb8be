// The result surface: the new image at its own ratio, saved to the library at
// once, with copy, save as, generate again, derived work and the library.

import { messageOf } from './native.js';
import { saveRequest } from './generation.js';
import { el } from './dom.js';

const RESULT_WIDTH = 540;

const button = (label, test) => el('button', { type: 'button', className: 'secondary-button', test, text: label });

// ctx: { native, navigate, island, regenerate(draft), onSaved() }
export function createResult(ctx) {
  const { native, navigate, island, onSaved } = ctx;

  const image = el('img', { test: 'result-image' });
  const figure = el('figure', { className: 'result-figure' }, [image]);
  const meta = el('p', { className: 'result-meta', test: 'result-meta' });

  const saveText = el('span', { role: 'status', test: 'result-save' });
  const retry = button('重新保存', 'result-save-retry');
  const saveLine = el('div', { className: 'result-save' }, [saveText, retry]);

  const copy = button('复制', 'result-copy');
  const saveAs = button('另存为', 'result-save-as');
  const again = button('再次生成', 'result-again');
  const reference = button('作为参考', 'result-reference');
  const adjust = button('调整', 'result-adjust');
  const openLibrary = button('在作品库中打开', 'result-open-library');
  const actions = el('div', { className: 'result-actions' }, [copy, saveAs, again, reference, adjust, openLibrary]);

  const feedback = el('p', { className: 'result-feedback', role: 'status', test: 'result-feedback' });

  const root = el('section', { className: 'surface result', ariaLabel: '新作品', test: 'surface-result' }, [
    figure,
    meta,
    saveLine,
    actions,
    feedback,
  ]);

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
