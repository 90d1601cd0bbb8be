// The detail of one library work: the full image (or the native video
// player laid over a slot of the page), its prompt, ratio, model and parent,
// and the ways to continue from it (use as reference, adjust, copy, save).

import { messageOf } from './native.js';
import { el, viewButton } from './dom.js';
import { formatBytes, formatDate } from './format.js';
import { bytesOf, isVideoToken, thumbnailOf, titleOf, videoPlacement } from './library-model.js';

const detailWidth = 720;

// Keeps the native player over the slot while the slot is wholly on screen
// and stops it as soon as the slot leaves the screen or the view closes.
function createVideoSlot(native, slot, onError) {
  let id = null;
  let sent = null; // the last rectangle handed to the player, or null when stopped
  let frames = 0;
  let failed = false;

  function place() {
    if (id === null || failed) return;
    const box = slot.getBoundingClientRect();
    const rect = videoPlacement(
      { x: box.left, y: box.top, width: box.width, height: box.height },
      window.innerWidth,
      window.innerHeight,
    );
    if (rect === null) {
      stop();
      return;
    }
    const key = `${rect.x},${rect.y},${rect.width},${rect.height}`;
    if (key === sent) return;
    sent = key;
    native.libraryVideo({ id, ...rect }).catch((error) => {
      failed = true;
      sent = null;
      onError(messageOf(error));
    });
  }

  function stop() {
    if (sent === null) return;
    sent = null;
    native.libraryVideo(null).catch(() => {});
  }

  // The island grows and moves for a moment after a change; follow it for a few frames.
  function follow() {
    const running = frames > 0;
    frames = 30;
    if (running) return;
    const step = () => {
      place();
      frames -= 1;
      if (frames > 0 && id !== null) requestAnimationFrame(step);
      else frames = 0;
    };
    requestAnimationFrame(step);
  }

  const visibility = new IntersectionObserver(follow, { threshold: [0, 0.5, 1] });
  const size = new ResizeObserver(follow);
  const onViewport = () => follow();

  return {
    start(workId) {
      id = workId;
      failed = false;
      visibility.observe(slot);
      size.observe(slot);
      window.addEventListener('resize', onViewport);
      document.addEventListener('scroll', onViewport, { capture: true, passive: true });
      document.addEventListener('transitionend', onViewport, true);
      follow();
    },
    end() {
      if (id === null) return;
      id = null;
      visibility.disconnect();
      size.disconnect();
      window.removeEventListener('resize', onViewport);
      document.removeEventListener('scroll', onViewport, { capture: true });
      document.removeEventListener('transitionend', onViewport, true);
      stop();
    },
  };
}

export function createDetail(ctx) {
  const { native, navigate, island } = ctx;
  let entry = null;
  let mediaURL = null; // the full image as a data URL, once loaded
  let token = 0;

  const element = el('section', { className: 'detail', ariaLabel: '作品详情', test: 'detail' });
  element.hidden = true;

  const back = viewButton('返回作品库', 'detail-back');
  const title = el('h2', { className: 'detail-title', test: 'detail-title' });
  const image = el('img', { className: 'detail-image', test: 'detail-image', alt: '' });
  const videoSlot = el('div', { className: 'detail-video', test: 'detail-video', ariaLabel: '视频播放区域', role: 'region' });
  const media = el('figure', { className: 'detail-media', test: 'detail-media' }, [image, videoSlot]);

  const prompt = el('p', { className: 'detail-prompt', test: 'detail-prompt' });
  const ratio = el('dd', { test: 'detail-ratio' });
  const model = el('dd', { test: 'detail-model' });
  const size = el('dd', { test: 'detail-size' });
  const created = el('dd', { test: 'detail-created' });
  const parent = el('button', { type: 'button', className: 'detail-link', test: 'detail-parent', text: '查看来源作品' });
  const parentRow = el('div', { className: 'detail-row' }, [el('dt', { text: '来源' }), el('dd', {}, [parent])]);
  const facts = el('dl', { className: 'detail-facts' }, [
    el('div', { className: 'detail-row' }, [el('dt', { text: '比例' }), ratio]),
    el('div', { className: 'detail-row' }, [el('dt', { text: '模型' }), model]),
    el('div', { className: 'detail-row' }, [el('dt', { text: '大小' }), size]),
    el('div', { className: 'detail-row' }, [el('dt', { text: '创建' }), created]),
    parentRow,
  ]);

  const useReference = viewButton('作为参考', 'detail-reference', true);
  const adjust = viewButton('调整', 'detail-adjust');
  const copyImage = viewButton('复制', 'detail-copy');
  const saveAs = viewButton('另存为', 'detail-save');
  const copyPrompt = viewButton('复制提示词', 'detail-copy-prompt');
  const reveal = viewButton('在文件夹中显示', 'detail-reveal');
  const imageActions = [useReference, adjust, saveAs];
  const actions = el('div', { className: 'detail-actions' }, [useReference, adjust, copyImage, saveAs, copyPrompt, reveal]);
  const status = el('p', { className: 'library-status', role: 'status', test: 'detail-status' });

  const info = el('div', { className: 'detail-info' }, [
    el('h3', { className: 'detail-label', text: '提示词' }),
    prompt,
    facts,
    actions,
    status,
  ]);
  element.append(
    el('header', { className: 'detail-head' }, [back, title]),
    el('div', { className: 'detail-body' }, [media, info]),
  );

  const video = createVideoSlot(native, videoSlot, (message) => say(message));

  function say(text) {
    status.textContent = text;
  }

  function fill(work) {
    entry = work;
    const isVideo = work.kind === 'video';
    title.textContent = titleOf(work);
    prompt.textContent = work.prompt || '（无提示词）';
    const pixels = work.width > 0 && work.height > 0 ? ` · ${work.width}×${work.height}` : '';
    ratio.textContent = `${work.ratio || work.requestedRatio || '—'}${pixels}`;
    model.textContent = [work.model, work.provider].filter(Boolean).join(' · ') || '—';
    size.textContent = formatBytes(work.fileBytes || bytesOf(work));
    created.textContent = formatDate(work.createdAt) || '—';
    parentRow.hidden = typeof work.parentId !== 'string' || work.parentId === '';
    const aspect = work.width > 0 && work.height > 0 ? `${work.width} / ${work.height}` : isVideo ? '16 / 9' : '1 / 1';
    media.style.setProperty('--detail-aspect', aspect);
    media.classList.toggle('is-video', isVideo);
    image.hidden = isVideo;
    videoSlot.hidden = !isVideo;
    const thumbnail = thumbnailOf(work);
    if (isVideo) videoSlot.style.backgroundImage = thumbnail ? `url("${thumbnail}")` : '';
    else if (thumbnail) image.src = thumbnail;
    else image.removeAttribute('src');
    image.alt = titleOf(work);
    // An empty text would reach the bridge as null, which the clipboard action does not answer.
    copyPrompt.disabled = !work.prompt;
    for (const button of imageActions) {
      button.hidden = isVideo;
      button.disabled = true;
    }
  }

  async function loadMedia(work, current) {
    let value;
    try {
      value = await native.libraryMedia(work.id);
    } catch (error) {
      if (current === token) say(messageOf(error));
      return;
    }
    if (current !== token) return;
    if (work.kind === 'video' || isVideoToken(value, work.id)) {
      if (!isVideoToken(value, work.id)) {
        say('视频无法播放');
        return;
      }
      video.start(work.id);
      return;
    }
    if (typeof value !== 'string' || !value.startsWith('data:image/')) {
      say('图片无法读取');
      return;
    }
    mediaURL = value;
    image.src = value;
    for (const button of imageActions) button.disabled = false;
  }

  async function open(options, current) {
    let work = options.entry && options.entry.id === options.id ? options.entry : null;
    if (!work) {
      try {
        const list = await native.historyList();
        const wanted = String(options.id ?? '').toUpperCase();
        work = (Array.isArray(list) ? list : []).find((item) => String(item?.id).toUpperCase() === wanted) ?? null;
      } catch (error) {
        if (current === token) say(messageOf(error));
        return;
      }
    }
    if (current !== token) return;
    if (!work) {
      title.textContent = '作品不存在';
      say('这件作品已不在作品库中');
      return;
    }
    fill(work);
    loadMedia(work, current);
  }

  // The creation surface receives the work as a reference or to adjust it
  // (with its prompt as a starting point); the new work records this one as its parent.
  function continueWith(kind) {
    if (!entry || !mediaURL) return;
    const work = { id: entry.id, imageURL: mediaURL, parentId: entry.id, prompt: entry.prompt ?? '' };
    navigate('creation', { [kind]: work });
  }

  async function mediaAction(name, done, failed) {
    if (!entry) return;
    try {
      const reply = await native.libraryAction({ id: entry.id, action: name });
      say(reply?.ok ? done : failed);
    } catch (error) {
      say(messageOf(error));
    }
  }

  back.addEventListener('click', () => navigate('library', { select: entry?.id }));
  parent.addEventListener('click', () => entry?.parentId && navigate('detail', { id: entry.parentId }));
  useReference.addEventListener('click', () => continueWith('reference'));
  adjust.addEventListener('click', () => continueWith('edit'));
  copyImage.addEventListener('click', () => mediaAction('copy', '已复制到剪贴板', '复制失败'));
  reveal.addEventListener('click', () => mediaAction('reveal', '已在文件夹中显示', '无法在文件夹中显示'));
  copyPrompt.addEventListener('click', async () => {
    if (!entry?.prompt) return;
    try {
      say((await native.copyText(entry.prompt)) ? '已复制提示词' : '复制失败');
    } catch (error) {
      say(messageOf(error));
    }
  });
  saveAs.addEventListener('click', async () => {
    if (!mediaURL) return;
    try {
      if (await native.saveImage(mediaURL)) say('已保存');
    } catch (error) {
      say(messageOf(error));
    }
  });
  element.addEventListener('keydown', (event) => {
    if (event.key === 'Escape' && !event.defaultPrevented) {
      event.stopPropagation();
      back.click();
    }
  });

  return {
    element,
    show(options = {}) {
      const current = ++token;
      video.end();
      entry = null;
      mediaURL = null;
      say('');
      title.textContent = '';
      prompt.textContent = '';
      image.removeAttribute('src');
      element.hidden = false;
      island.setWidth(detailWidth);
      open(options, current);
    },
    hide() {
      token += 1;
      video.end();
      element.hidden = true;
    },
  };
}
