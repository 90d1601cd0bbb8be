// The first-run guide: what the shortcut does, permission to read the
// selection, and a way to generate (an image service or a local agent).
// Finishing stores "done", skipping stores "skipped"; either ends the guide for good.

import { messageOf } from './native.js';
import { el, viewButton } from './dom.js';
import { storedKeys, writeStored } from './storage.js';
import { agentBadge, agentsOf } from './settings-model.js';

const onboardingWidth = 365;

export function createOnboarding(ctx) {
  const { native, navigate, island } = ctx;
  let step = 0;

  const element = el('section', { className: 'onboarding', ariaLabel: '欢迎使用 Glimmet', test: 'onboarding' });
  element.hidden = true;

  // Step 1: the shortcut.
  const shortcutStep = el('div', { className: 'onboarding-step', test: 'onboarding-step-shortcut' }, [
    el('h2', { className: 'onboarding-title', text: '选中，按下，出图' }),
    el('p', {
      className: 'onboarding-text',
      text: '在任意应用里选中一段文字或一张图片，按下全局快捷键（默认 Ctrl+P），Glimmet 会在这里接住你的选择，几秒后给你一张图。',
    }),
    el('p', { className: 'onboarding-hint', text: '快捷键可以在设置里修改或暂停。' }),
  ]);

  // Step 2: permission to read the selection.
  const permission = el('span', { className: 'view-badge', test: 'onboarding-permission-state', text: '检查中…' });
  const request = viewButton('允许读取选区', 'onboarding-permission-request', true);
  const permissionNote = el('p', { className: 'onboarding-hint', role: 'status', test: 'onboarding-permission-message' });
  const permissionStep = el('div', { className: 'onboarding-step', test: 'onboarding-step-permission' }, [
    el('h2', { className: 'onboarding-title', text: '读取你选中的内容' }),
    el('p', { className: 'onboarding-text', text: '要读取其他应用里选中的文字，Glimmet 需要系统的辅助功能权限。它只在你按下快捷键时读取一次。' }),
    el('div', { className: 'onboarding-row' }, [permission, request]),
    permissionNote,
  ]);

  // Step 3: a way to generate.
  const useService = viewButton('使用图片服务', 'onboarding-api');
  const useAgent = viewButton('使用本机 Agent', 'onboarding-agent');
  const agentList = el('ul', { className: 'onboarding-agents', test: 'onboarding-agents', ariaLabel: '本机 Agent' });
  const agentNote = el('p', { className: 'onboarding-hint', role: 'status', test: 'onboarding-agent-message' });
  const setupAgent = viewButton('安装或设置 Codex', 'onboarding-agent-setup');
  const agentBox = el('div', { className: 'onboarding-agent-box' }, [agentList, setupAgent, agentNote]);
  agentBox.hidden = true;
  const choiceStep = el('div', { className: 'onboarding-step', test: 'onboarding-step-provider' }, [
    el('h2', { className: 'onboarding-title', text: '选择生成方式' }),
    el('p', { className: 'onboarding-text', text: '可以接入自己的图片服务（兼容 OpenAI 的 API），或使用本机已登录的 Codex，额度来自你自己的账号。' }),
    el('div', { className: 'onboarding-choices' }, [useService, useAgent]),
    agentBox,
  ]);

  const steps = [shortcutStep, permissionStep, choiceStep];
  const progress = el('span', { className: 'onboarding-progress', test: 'onboarding-progress', ariaLive: 'polite' });
  const skip = viewButton('跳过', 'onboarding-skip');
  const previous = viewButton('上一步', 'onboarding-prev');
  const next = viewButton('下一步', 'onboarding-next', true);
  element.append(
    el('div', { className: 'onboarding-top' }, [progress, skip]),
    ...steps,
    el('div', { className: 'onboarding-nav' }, [previous, next]),
  );

  function go(index) {
    step = Math.max(0, Math.min(steps.length - 1, index));
    steps.forEach((node, i) => {
      node.hidden = i !== step;
    });
    progress.textContent = `${step + 1} / ${steps.length}`;
    previous.disabled = step === 0;
    next.textContent = step === steps.length - 1 ? '完成' : '下一步';
    if (step === 1) checkPermission();
  }

  function finish(outcome, surface = 'creation', options) {
    writeStored(storedKeys.onboarding, outcome);
    navigate(surface, options);
  }

  function showPermission(trusted) {
    permission.textContent = trusted ? '已允许' : '未允许';
    permission.classList.toggle('is-good', trusted);
    request.hidden = trusted;
  }

  async function checkPermission() {
    try {
      showPermission((await native.accessibility()) === true);
    } catch (error) {
      permissionNote.textContent = messageOf(error);
    }
  }

  async function loadAgents() {
    agentNote.textContent = '正在检测本机 Agent…';
    try {
      const agents = agentsOf(await native.agents());
      agentList.replaceChildren(
        ...agents.map((agent) => {
          const row = el('li', { className: 'onboarding-agent', test: 'onboarding-agent-row' }, [
            el('span', { className: 'onboarding-agent-name', text: agent.name || agent.id }),
            el('span', { className: agent.imageGeneration ? 'view-badge is-good' : 'view-badge', text: agentBadge(agent) }),
            el('span', { className: 'onboarding-agent-reason', text: agent.reason || '' }),
          ]);
          row.dataset.id = agent.id;
          return row;
        }),
      );
      agentNote.textContent = agents.some((agent) => agent.imageGeneration) ? '可以直接使用本机 Agent 生成。' : '';
    } catch (error) {
      agentNote.textContent = messageOf(error);
    }
  }

  request.addEventListener('click', async () => {
    try {
      const trusted = (await native.requestAccessibility()) === true;
      showPermission(trusted);
      permissionNote.textContent = trusted ? '' : '请在系统设置中允许后回到这里，也可以稍后在设置中开启。';
    } catch (error) {
      permissionNote.textContent = messageOf(error);
    }
  });
  useService.addEventListener('click', () => finish('done', 'settings', { section: 'api' }));
  useAgent.addEventListener('click', () => {
    agentBox.hidden = false;
    useAgent.setAttribute('aria-pressed', 'true');
    loadAgents();
  });
  setupAgent.addEventListener('click', async () => {
    try {
      await native.setupAgent('codex');
      agentNote.textContent = '已打开 Agent 设置窗口，完成后回到这里点“完成”。';
    } catch (error) {
      agentNote.textContent = messageOf(error);
    }
  });
  skip.addEventListener('click', () => finish('skipped'));
  previous.addEventListener('click', () => go(step - 1));
  next.addEventListener('click', () => (step === steps.length - 1 ? finish('done') : go(step + 1)));

  return {
    element,
    show() {
      element.hidden = false;
      island.setWidth(onboardingWidth);
      go(0);
    },
    hide() {
      element.hidden = true;
    },
  };
}
