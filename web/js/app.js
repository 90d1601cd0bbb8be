// Entry of the page: builds the island and its surfaces, routes between them
// and connects the native events (capture, toggle, hide, task notice).

import { native, onNative } from './native.js';
import { el } from './dom.js';
import { createIsland } from './island.js';
import { toggleOutcome } from './island-geometry.js';
import { createCreation } from './creation.js';
import { createResult } from './result.js';
import { createTaskReporter, noticeFor } from './task.js';
import { onboardingNeeded } from './settings-model.js';
import { readStored, storedKeys } from './storage.js';

// Preferred widths; a view may still set its own with island.setWidth.
const WIDTHS = { creation: 365, result: 540, library: 660, detail: 720, settings: 540, onboarding: 420 };

// The library, detail, settings and onboarding views load on their own, with
// their style sheets, the first time they are shown: the creation surface
// neither waits for them nor fails with them.
const VIEW_MODULES = {
  library: ['./library.js', 'createLibrary', 'css/library.css'],
  detail: ['./detail.js', 'createDetail', 'css/library.css'],
  settings: ['./settings.js', 'createSettings', 'css/settings.css'],
  onboarding: ['./onboarding.js', 'createOnboarding', 'css/onboarding.css'],
};

// index.html asks for the waiting capture and the anchor before the modules
// load; a page without that head asks now, before building anything.
const early = window.glimmetStart ?? {};
const startCapture = Promise.resolve(early.capture ?? native.capture()).catch(() => null);

function isNeutral(payload) {
  return !payload || (!payload.text && !payload.image && !payload.error && !payload.mode);
}

const stage = document.getElementById('app') ?? document.body;
const views = {};
let current = null;
let navigation = 0;
let activity = { state: 'idle', text: '' };

const island = createIsland(native, { onNavigate: (surface) => navigate(surface), anchor: early.anchor });
stage.append(island.element);

const task = createTaskReporter(native, () => island.hidden || document.visibilityState === 'hidden');
const ctx = { native, navigate, island };

function mount(name, view) {
  view.element.hidden = true;
  island.body.append(view.element);
  views[name] = view;
  return view;
}

const creation = mount(
  'creation',
  createCreation({
    ...ctx,
    task,
    onActivity(state, text) {
      activity = { state, text };
    },
  }),
);
mount(
  'result',
  createResult({ ...ctx, regenerate: (draft) => navigate('creation', { draft, run: true }), onSaved: warmLibraryWhenIdle }),
);

const styleSheets = {};
// Resolves once the style sheet at `href` applies (or failed to load: the
// view still works, unstyled, rather than not at all).
function styleSheet(href) {
  styleSheets[href] ??= new Promise((resolve) => {
    const link = el('link', { rel: 'stylesheet', href });
    link.addEventListener('load', resolve, { once: true });
    link.addEventListener('error', resolve, { once: true });
    document.head.append(link);
  });
  return styleSheets[href];
}

const loading = {};
function viewFor(name) {
  if (views[name]) return Promise.resolve(views[name]);
  const entry = VIEW_MODULES[name];
  if (!entry) return Promise.resolve(null);
  loading[name] ??= Promise.all([import(entry[0]), styleSheet(entry[2])])
    .then(([module]) => views[name] ?? mount(name, module[entry[1]](ctx)))
    .catch((error) => {
      delete loading[name];
      console.error(error);
      return null;
    });
  return loading[name];
}

// Once the first surface has been drawn and the page is idle (and again after
// a work is saved), the library's module and style sheet load and its grid is
// built, hidden, from a list asked ahead, so opening the library waits for
// none of them (the library asks again when shown).
function warmLibraryWhenIdle() {
  const idle = window.requestIdleCallback ?? ((callback) => setTimeout(callback, 0));
  requestAnimationFrame(() =>
    requestAnimationFrame(() => idle(() => viewFor('library').then((view) => view?.prefetch()), { timeout: 500 })),
  );
}

// Shows `surface` ('compact' shrinks the island to its bar).
async function navigate(surface, options = {}) {
  const token = ++navigation;
  if (surface === 'compact') {
    leave(null);
    island.setSurface('compact');
    return;
  }
  const view = await viewFor(surface);
  if (token !== navigation) return;
  if (!view) {
    if (surface !== 'creation') navigate('creation');
    return;
  }
  leave(surface);
  current = surface;
  view.element.hidden = false;
  island.setWidth(WIDTHS[surface]);
  island.setSurface(surface);
  try {
    await view.show(options);
  } catch (error) {
    console.error(error);
  }
}

function leave(next) {
  if (!current || current === next) return;
  const view = views[current];
  view.element.hidden = true;
  try {
    view.hide();
  } catch (error) {
    console.error(error);
  }
  current = null;
}

// The surface to open when the island expands again.
function reopen() {
  navigate(current ?? 'creation');
}

let captured = false;
onNative('plumora:capture', (payload) => {
  captured = true;
  island.shown();
  creation.applyCapture(payload);
  navigate('creation');
});

// A click on the tray icon: open the island, or put the panel away when it
// was already open.
onNative('plumora:toggle', () => {
  const outcome = toggleOutcome({ hidden: island.hidden, mode: island.mode });
  island.shown();
  if (outcome === 'open') reopen();
  else Promise.resolve(native.hide()).catch(() => {});
});

onNative('plumora:surface', (surface) => {
  island.shown();
  if (surface === 'quick') navigate('creation');
});

onNative('plumora:task-notice', () => {
  const { text, target } = noticeFor(activity);
  island.showNotice(text, target, activity.state);
});

// Dropped image files become the working image.
window.addEventListener('dragover', (event) => {
  if (!event.dataTransfer?.types?.includes('Files')) return;
  event.preventDefault();
  island.element.classList.add('is-dropping');
});
window.addEventListener('dragleave', (event) => {
  if (event.relatedTarget === null) island.element.classList.remove('is-dropping');
});
window.addEventListener('drop', (event) => {
  island.element.classList.remove('is-dropping');
  const file = [...(event.dataTransfer?.files ?? [])][0];
  if (!file) return;
  event.preventDefault();
  navigate('creation').then(() => creation.acceptFile(file));
});

window.addEventListener('keydown', (event) => {
  // Escape during an input method composition only cancels the composition.
  if (event.key !== 'Escape' || event.defaultPrevented || event.isComposing) return;
  Promise.resolve(native.hide()).catch(() => {});
});

// The notification smoke mode: one scripted task from working to its end.
async function runNotificationTest() {
  const failed = native.notificationTestFailure === true;
  const taskId = task.start();
  activity = { state: 'working', text: '正在生成图片…' };
  await new Promise((resolve) => setTimeout(resolve, 800));
  activity = failed ? { state: 'error', text: '通知测试失败' } : { state: 'done', text: '新作品已就绪' };
  await task.finish(taskId, failed ? 'error' : 'done', { present: true });
}

async function start() {
  const payload = await startCapture;
  // A capture event or a click that arrived meanwhile is newer than this.
  if (!captured && !isNeutral(payload)) creation.applyCapture(payload);
  if (onboardingNeeded(readStored(storedKeys.onboarding))) navigate('onboarding');
  else if (navigation === 0) navigate(isNeutral(payload) ? 'compact' : 'creation');

  if (native.notificationTest === true) runNotificationTest();
  if (typeof window.plumora?.previewTrace === 'function') {
    import('./library.js')
      .then((module) => module.runPreviewTrace(native))
      .catch((error) => console.error(error));
  } else {
    warmLibraryWhenIdle();
  }
}

start();
