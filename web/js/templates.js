// The built-in template gallery: a few styles the user can put over their
// text, and the page-modal dialog that offers them.

import { el } from './dom.js';

export const TEMPLATES = [
  {
    id: 'watercolor',
    name: '水彩插画',
    prompt: '柔和的水彩插画，纸张纹理，边缘自然晕染，低饱和的清透色彩，留白充足',
    swatch: ['#9cc5d8', '#f3d9c4'],
  },
  {
    id: 'film-photo',
    name: '胶片摄影',
    prompt: '35mm 胶片摄影质感，自然光，轻微颗粒，温暖的色调，浅景深，真实细节',
    swatch: ['#c89b6d', '#3e4a52'],
  },
  {
    id: 'ink-wash',
    name: '水墨国风',
    prompt: '中国传统水墨画风格，墨色浓淡层次，写意笔触，宣纸质感，大面积留白',
    swatch: ['#2f2f2f', '#e9e4d8'],
  },
  {
    id: 'flat-illustration',
    name: '扁平插画',
    prompt: '现代扁平矢量插画，简洁几何形状，明快配色，干净的轮廓，无多余阴影',
    swatch: ['#f2b84b', '#4f8fc0'],
  },
  {
    id: 'isometric-3d',
    name: '3D 等距',
    prompt: '3D 等距视角小场景，柔和的黏土材质，圆润造型，工作室柔光，干净背景',
    swatch: ['#b9a7e8', '#f5c6d6'],
  },
  {
    id: 'cyberpunk',
    name: '赛博霓虹',
    prompt: '赛博朋克夜景，霓虹灯光，潮湿反光的街道，青色与品红对比，电影感构图',
    swatch: ['#1b1f3b', '#e0409a'],
  },
  {
    id: 'product-shot',
    name: '产品海报',
    prompt: '高级商业产品摄影，干净的渐变背景，柔和的轮廓光，精致倒影，主体居中',
    swatch: ['#e6e8ec', '#8a96a8'],
  },
  {
    id: 'pixel-art',
    name: '像素风',
    prompt: '16 位复古像素艺术，有限调色板，清晰的像素边缘，怀旧游戏画面',
    swatch: ['#5b8c3a', '#f0d35a'],
  },
];

export function templateById(id) {
  return TEMPLATES.find((template) => template.id === id) ?? null;
}

// The gallery dialog. It lives inside the island (so the island's rectangle
// still covers everything visible) and is page-modal while open.
export function createTemplateGallery({ island, onChoose }) {
  const title = el('h2', { id: 'template-gallery-title', text: '选择模板风格' });
  const close = el('button', { type: 'button', className: 'icon-button', ariaLabel: '关闭模板', test: 'template-close', text: '✕' });
  const header = el('div', { className: 'template-gallery-header' }, [title, close]);

  const grid = el(
    'div',
    { className: 'template-grid' },
    TEMPLATES.map((template) => {
      const swatch = el('span', { className: 'template-swatch', ariaHidden: 'true' });
      swatch.style.background = `linear-gradient(135deg, ${template.swatch[0]}, ${template.swatch[1]})`;
      const card = el('button', { type: 'button', className: 'template-card', test: `template-${template.id}` }, [
        swatch,
        el('span', { className: 'template-name', text: template.name }),
        el('span', { className: 'template-prompt', text: template.prompt }),
      ]);
      card.dataset.template = template.id;
      card.addEventListener('click', () => {
        closeGallery();
        onChoose(template);
      });
      return card;
    }),
  );

  const element = el(
    'div',
    { className: 'template-gallery', role: 'dialog', ariaModal: 'true', ariaLabelledby: 'template-gallery-title', test: 'template-gallery' },
    [header, grid],
  );
  element.hidden = true;

  let returnFocus = null;
  let restoreWidth = null;

  function openGallery(currentId, width) {
    if (!element.hidden) return;
    returnFocus = document.activeElement;
    restoreWidth = width;
    for (const card of grid.children) {
      card.setAttribute('aria-pressed', String(card.dataset.template === currentId));
    }
    element.hidden = false;
    island.setModal(true);
    island.setWidth(660);
    (grid.querySelector('[aria-pressed="true"]') ?? grid.firstElementChild).focus();
  }

  function closeGallery() {
    if (element.hidden) return;
    element.hidden = true;
    island.setModal(false);
    if (restoreWidth) island.setWidth(restoreWidth);
    returnFocus?.focus?.();
  }

  close.addEventListener('click', closeGallery);
  element.addEventListener('keydown', (event) => {
    if (event.key === 'Escape') {
      event.stopPropagation();
      closeGallery();
    }
  });

  return { element, open: openGallery, close: closeGallery, get isOpen() { return !element.hidden; } };
}
