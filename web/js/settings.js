// The settings surface: the image service, local agents, appearance,
// shortcuts and selection permission, the cloud account and the version.
// Every rejection from the native side is shown as it comes.

import { messageOf } from './native.js';
import { el, viewButton } from './dom.js';
import { readStored, storedKeys, writeStored } from './storage.js';
import {
  agentBadge,
  agentsOf,
  apiConfigureValue,
  apiStateLabel,
  appearanceOptions,
  normalizedAppearance,
} from './settings-model.js';

const settingsWidth = 540;
const accountPage = 'https://glimmet.app/account';
const pollInterval = 2000;

const sections = [
  { id: 'api', label: '图片服务' },
  { id: 'agents', label: '本机 Agent' },
  { id: 'appearance', label: '外观' },
  { id: 'shortcuts', label: '快捷键与权限' },
  { id: 'account', label: '账号' },
  { id: 'about', label: '关于' },
];
const sectionAliases = { permission: 'shortcuts', accessibility: 'shortcuts', agent: 'agents', version: 'about' };

const message = (test) => el('p', { className: 'settings-message', role: 'status', test });

function field(label, input) {
  return el('label', { className: 'settings-field' }, [el('span', { className: 'settings-label', text: label }), input]);
}

function apiSection(native) {
  const state = el('span', { className: 'view-badge', test: 'api-state' });
  const baseURL = el('input', {
    type: 'url',
    test: 'api-base-url',
    placeholder: 'https://api.example.com/v1',
    autocomplete: 'off',
    spellcheck: false,
  });
  const model = el('input', { type: 'text', test: 'api-model', placeholder: 'gpt-image-1', autocomplete: 'off', spellcheck: false });
  const key = el('input', { type: 'password', test: 'api-key', autocomplete: 'off', spellcheck: false });
  const save = viewButton('保存', 'api-save', true);
  const check = viewButton('测试连接', 'api-check');
  const note = message('api-message');
  let checking = false;

  function apply(next) {
    state.textContent = apiStateLabel(next);
    state.classList.toggle('is-good', Boolean(next?.verified));
    baseURL.value = next?.baseURL ?? '';
    model.value = next?.model ?? '';
    key.value = '';
    key.placeholder = next?.hasKey ? '已保存，留空则保持不变' : '粘贴 API Key';
  }

  async function refresh() {
    try {
      apply(await native.apiStatus());
    } catch (error) {
      note.textContent = messageOf(error);
    }
  }

  save.addEventListener('click', async () => {
    const checked = apiConfigureValue({ baseURL: baseURL.value, model: model.value, key: key.value });
    if (checked.error) {
      note.textContent = checked.error;
      return;
    }
    save.disabled = true;
    note.textContent = '正在保存…';
    try {
      apply(await native.apiConfigure(checked.value));
      note.textContent = '已保存';
    } catch (error) {
      note.textContent = messageOf(error);
    } finally {
      save.disabled = false;
    }
  });

  // A running check can take a minute; the same button cancels it.
  check.addEventListener('click', async () => {
    if (checking) {
      native.apiCancel().catch(() => {});
      return;
    }
    checking = true;
    check.textContent = '取消测试';
    note.textContent = '正在测试连接…';
    try {
      apply(await native.apiCheck());
      note.textContent = '连接成功，模型可用';
    } catch (error) {
      note.textContent = messageOf(error);
    } finally {
      checking = false;
      check.textContent = '测试连接';
    }
  });

  const body = el('div', { className: 'settings-panel-body' }, [
    el('div', { className: 'settings-heading' }, [el('h3', { text: '图片服务' }), state]),
    el('p', { className: 'settings-hint', text: '兼容 OpenAI 图片接口的 HTTPS 服务。API Key 保存在系统钥匙串中。' }),
    field('Base URL', baseURL),
    field('模型', model),
    field('API Key', key),
    el('div', { className: 'settings-actions' }, [save, check]),
    note,
  ]);
  return { body, refresh };
}

function agentsSection(native) {
  const notice = el('p', { className: 'settings-hint', test: 'agents-notice' });
  const list = el('ul', { className: 'settings-agents', test: 'agents-list', ariaLabel: '本机 Agent' });
  const refreshButton = viewButton('重新检测', 'agents-refresh');
  const note = message('agents-message');
  let loaded = false;
  let loading = false;

  function row(agent) {
    const setup = viewButton('设置', 'agent-setup');
    setup.addEventListener('click', async () => {
      try {
        await native.setupAgent(agent.id);
        note.textContent = '已打开 Agent 设置窗口，完成后点“重新检测”';
      } catch (error) {
        note.textContent = messageOf(error);
      }
    });
    const item = el('li', { className: 'settings-agent', test: 'agent-row' }, [
      el('div', { className: 'settings-agent-head' }, [
        el('span', { className: 'settings-agent-name', text: agent.name || agent.id }),
        el('span', {
          className: agent.imageGeneration ? 'view-badge is-good' : 'view-badge',
          test: 'agent-badge',
          text: agentBadge(agent),
        }),
        setup,
      ]),
      el('p', { className: 'settings-agent-reason', test: 'agent-reason', text: agent.reason || '' }),
    ]);
    item.dataset.id = agent.id;
    if (agent.version) item.querySelector('.settings-agent-name').title = agent.version;
    if (agent.installed && agent.version) {
      item.append(el('p', { className: 'settings-agent-version', text: `${agent.version}${agent.path ? ` · ${agent.path}` : ''}` }));
    }
    return item;
  }

  async function refresh() {
    if (loading) return;
    loading = true;
    refreshButton.disabled = true;
    note.textContent = '正在检测本机 Agent…';
    try {
      const inventory = await native.agents();
      loaded = true;
      notice.textContent = typeof inventory?.notice === 'string' ? inventory.notice : '';
      const agents = agentsOf(inventory);
      list.replaceChildren(...agents.map(row));
      note.textContent = agents.length === 0 ? '没有找到本机 Agent' : '';
    } catch (error) {
      note.textContent = messageOf(error);
    } finally {
      loading = false;
      refreshButton.disabled = false;
    }
  }

  refreshButton.addEventListener('click', refresh);
  const body = el('div', { className: 'settings-panel-body' }, [
    el('div', { className: 'settings-heading' }, [el('h3', { text: '本机 Agent' }), refreshButton]),
    notice,
    list,
    note,
  ]);
  return { body, refresh: () => (loaded ? undefined : refresh()) };
}

function appearanceSection(native) {
  const note = message('appearance-message');
  let preference = normalizedAppearance(native.appearancePreference);
  const inputs = appearanceOptions.map((option) => {
    const input = el('input', { type: 'radio', name: 'plumora-appearance', value: option.value, test: `appearance-${option.value}` });
    return { option, input };
  });
  const sync = () => {
    for (const { option, input } of inputs) input.checked = option.value === preference;
  };
  for (const { option, input } of inputs) {
    input.addEventListener('change', async () => {
      if (!input.checked) return;
      try {
        const reply = await native.appearance(option.value);
        preference = normalizedAppearance(reply?.preference ?? option.value);
        note.textContent = reply?.theme === 'dark' ? '当前为深色外观' : '当前为浅色外观';
      } catch (error) {
        note.textContent = messageOf(error);
      }
      sync();
    });
  }
  sync();
  const group = el(
    'div',
    { className: 'settings-choices', role: 'radiogroup', ariaLabel: '外观' },
    inputs.map(({ option, input }) => el('label', { className: 'settings-choice' }, [input, el('span', { text: option.label })])),
  );
  const body = el('div', { className: 'settings-panel-body' }, [
    el('div', { className: 'settings-heading' }, [el('h3', { text: '外观' })]),
    group,
    note,
  ]);
  return { body, refresh: sync };
}

function shortcutsSection(native) {
  const openShortcuts = viewButton('打开快捷键设置', 'shortcuts-open');
  const permission = el('span', { className: 'view-badge', test: 'permission-state' });
  const request = viewButton('允许读取选区', 'permission-request');
  const note = message('shortcuts-message');

  const showPermission = (trusted) => {
    permission.textContent = trusted ? '已允许' : '未允许';
    permission.classList.toggle('is-good', trusted === true);
    request.hidden = trusted === true;
  };

  openShortcuts.addEventListener('click', async () => {
    try {
      await native.settings();
    } catch (error) {
      note.textContent = messageOf(error);
    }
  });
  request.addEventListener('click', async () => {
    try {
      const trusted = await native.requestAccessibility();
      showPermission(trusted === true);
      note.textContent = trusted === true ? '' : '请在系统设置中允许 Glimmet 读取选中的内容，然后回到这里';
    } catch (error) {
      note.textContent = messageOf(error);
    }
  });

  async function refresh() {
    try {
      showPermission((await native.accessibility()) === true);
    } catch (error) {
      note.textContent = messageOf(error);
    }
  }

  const body = el('div', { className: 'settings-panel-body' }, [
    el('div', { className: 'settings-heading' }, [el('h3', { text: '全局快捷键' })]),
    el('p', { className: 'settings-hint', text: '选中文字或图片后按下快捷键（默认 Ctrl+P）即可开始创作。可以修改、暂停，或在指定应用中停用。' }),
    el('div', { className: 'settings-actions' }, [openShortcuts]),
    el('div', { className: 'settings-heading' }, [el('h3', { text: '读取选区' }), permission]),
    el('p', { className: 'settings-hint', text: '允许后，Glimmet 才能读取你在其他应用中选中的文字。' }),
    el('div', { className: 'settings-actions' }, [request]),
    note,
  ]);
  return { body, refresh };
}

function accountSection(native) {
  const state = el('span', { className: 'view-badge', test: 'account-state' });
  const login = viewButton('登录 Glimmet 账号', 'account-login', true);
  const logout = viewButton('退出登录', 'account-logout');
  const pages = viewButton('打开账号页面', 'account-open');
  const cancel = viewButton('取消', 'account-cancel');
  const code = el('strong', { className: 'settings-code', test: 'account-code' });
  const address = el('button', { type: 'button', className: 'settings-link', test: 'account-verification' });
  const pendingBox = el('div', { className: 'settings-device' }, [
    el('p', { className: 'settings-hint', text: '已在浏览器中打开确认页面。请核对下面的验证码并确认，完成后这里会自动登录。' }),
    code,
    address,
    el('div', { className: 'settings-actions' }, [cancel]),
  ]);
  const note = message('account-message');
  let timer = null;
  let attempt = 0;

  function render() {
    const signedIn = readStored(storedKeys.signedIn) === 'yes';
    const waiting = timer !== null;
    state.textContent = signedIn ? '已登录' : waiting ? '等待确认' : '未登录';
    state.classList.toggle('is-good', signedIn);
    login.hidden = signedIn || waiting;
    logout.hidden = !signedIn;
    pendingBox.hidden = !waiting;
  }

  function stopPolling() {
    clearTimeout(timer);
    timer = null;
    attempt += 1;
  }

  function schedulePoll(current) {
    timer = setTimeout(async () => {
      let reply;
      try {
        reply = await native.cloudPoll();
      } catch (error) {
        if (current !== attempt) return;
        stopPolling();
        note.textContent = messageOf(error);
        render();
        return;
      }
      if (current !== attempt) return;
      if (reply?.pending === false) {
        stopPolling();
        writeStored(storedKeys.signedIn, 'yes');
        note.textContent = '登录成功';
        render();
      } else {
        schedulePoll(current);
      }
    }, pollInterval);
  }

  login.addEventListener('click', async () => {
    stopPolling();
    login.disabled = true;
    note.textContent = '正在启动登录…';
    try {
      const reply = await native.cloudLogin();
      code.textContent = reply?.userCode ?? '';
      address.textContent = reply?.verificationUri ?? '';
      note.textContent = '';
      schedulePoll(attempt);
    } catch (error) {
      note.textContent = messageOf(error);
    } finally {
      login.disabled = false;
      render();
    }
  });
  address.addEventListener('click', async () => {
    const opened = await native.cloudOpen(address.textContent).catch((error) => {
      note.textContent = messageOf(error);
      return null;
    });
    if (opened === false) note.textContent = '无法打开确认页面';
  });
  cancel.addEventListener('click', () => {
    stopPolling();
    note.textContent = '';
    render();
  });
  logout.addEventListener('click', async () => {
    logout.disabled = true;
    try {
      await native.cloudLogout();
      writeStored(storedKeys.signedIn, null);
      note.textContent = '已退出登录';
    } catch (error) {
      note.textContent = messageOf(error);
      // Without a stored session there is nothing left to sign out of.
      if (messageOf(error) === '请先登录 Glimmet 账号') writeStored(storedKeys.signedIn, null);
    } finally {
      logout.disabled = false;
      render();
    }
  });
  pages.addEventListener('click', async () => {
    try {
      if ((await native.cloudOpen(accountPage)) !== true) note.textContent = '无法打开账号页面';
    } catch (error) {
      note.textContent = messageOf(error);
    }
  });

  render();
  const body = el('div', { className: 'settings-panel-body' }, [
    el('div', { className: 'settings-heading' }, [el('h3', { text: 'Glimmet 账号' }), state]),
    el('p', { className: 'settings-hint', text: '登录后可使用云端作品与积分。本机生成与自己的图片服务不需要账号。' }),
    el('div', { className: 'settings-actions' }, [login, logout, pages]),
    pendingBox,
    note,
  ]);
  return { body, refresh: render };
}

function aboutSection(native) {
  const version = el('span', { test: 'app-version', text: native.appVersion || '' });
  const body = el('div', { className: 'settings-panel-body' }, [
    el('div', { className: 'settings-heading' }, [el('h3', { text: 'Glimmet' })]),
    el('p', { className: 'settings-hint' }, ['版本 ', version]),
  ]);
  return { body, refresh: () => {} };
}

export function createSettings(ctx) {
  const { native, island } = ctx;
  const parts = {
    api: apiSection(native),
    agents: agentsSection(native),
    appearance: appearanceSection(native),
    shortcuts: shortcutsSection(native),
    account: accountSection(native),
    about: aboutSection(native),
  };
  let active = 'api';

  const element = el('section', { className: 'settings', ariaLabel: '设置', test: 'settings' });
  element.hidden = true;
  const tabs = el('div', { className: 'settings-tabs', role: 'tablist', ariaLabel: '设置分类' });
  const panels = el('div', { className: 'settings-panels' });
  const tabButtons = new Map();
  for (const section of sections) {
    const tab = el('button', {
      type: 'button',
      role: 'tab',
      className: 'settings-tab',
      id: `settings-tab-${section.id}`,
      test: `settings-tab-${section.id}`,
      text: section.label,
    });
    const panel = el('div', { role: 'tabpanel', className: 'settings-panel', id: `settings-panel-${section.id}`, test: `settings-${section.id}` }, [
      parts[section.id].body,
    ]);
    tab.setAttribute('aria-controls', panel.id);
    panel.setAttribute('aria-labelledby', tab.id);
    tab.addEventListener('click', () => select(section.id));
    tabButtons.set(section.id, { tab, panel });
    tabs.append(tab);
    panels.append(panel);
  }
  // The island's chrome carries the title and the way back to creation.
  element.append(tabs, panels);

  function select(id, focus = false) {
    active = id;
    for (const [name, { tab, panel }] of tabButtons) {
      const on = name === id;
      tab.setAttribute('aria-selected', String(on));
      tab.tabIndex = on ? 0 : -1;
      panel.hidden = !on;
      if (on && focus) tab.focus();
    }
    // The service form reloads only when the view opens, so switching tabs keeps what was typed.
    if (id !== 'api') parts[id].refresh();
  }

  // Arrow keys move between the tabs, as in any tab list.
  tabs.addEventListener('keydown', (event) => {
    const order = sections.map((section) => section.id);
    const index = order.indexOf(active);
    const step = { ArrowRight: 1, ArrowDown: 1, ArrowLeft: -1, ArrowUp: -1 }[event.key];
    if (step === undefined) return;
    event.preventDefault();
    select(order[(index + step + order.length) % order.length], true);
  });

  return {
    element,
    show(options = {}) {
      element.hidden = false;
      island.setWidth(settingsWidth);
      const wanted = sectionAliases[options.section] ?? options.section;
      select(tabButtons.has(wanted) ? wanted : active);
      parts.api.refresh();
    },
    hide() {
      element.hidden = true;
    },
  };
}
