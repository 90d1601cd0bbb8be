// The scripted native side of the page tests (after the bridge script, before
// the page's; the server prepends `const fakeConfig = {replies};`). It stands
// in for the message handler "plumora": records every envelope and answers
// from the reply table, always asynchronously. A reply is {resolve: value} |
// {reject: 'message'} | {hold: true} (until answer()), with optional {delay: ms}.
(() => {
  const replies = { ...fakeConfig.replies };
  const calls = [];
  const held = [];
  const errors = [];
  const clone = (v) => (v === undefined ? undefined : JSON.parse(JSON.stringify(v)));

  function settle(call, reply) {
    if (reply.hold) return void held.push(call);
    setTimeout(() => {
      if ('resolve' in reply) window.__plumoraResolve(call.id, clone(reply.resolve) ?? null);
      else window.__plumoraReject(call.id, String(reply.reject));
    }, reply.delay ?? 0);
  }

  function postMessage(envelope) {
    const body = clone(envelope);
    const call = { action: body?.action ?? null, id: body?.id, value: body?.value ?? null };
    calls.push(call);
    if (Number.isInteger(call.id) && typeof call.action === 'string') settle(call, replies[call.action] ?? { resolve: null });
  }

  window.webkit = { messageHandlers: { plumora: { postMessage } } };

  // Script errors, and (captured, as they do not bubble) failed resource loads.
  window.addEventListener('error', (event) => {
    const source = event.target?.src || event.target?.href;
    errors.push(source ? `failed to load ${source}` : `${event.message} (${event.filename}:${event.lineno})`);
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
    calls: (action) => calls.filter((call) => call.action === action),
    reply: (action, reply) => (replies[action] = reply),
    // Answers the oldest held call of the action; false when none is held.
    answer(action, reply) {
      const index = held.findIndex((call) => call.action === action);
      if (index < 0) return false;
      settle(held.splice(index, 1)[0], reply);
      return true;
    },
    emit(name, detail) {
      window.dispatchEvent(detail === undefined ? new Event(name) : new CustomEvent(name, { detail: clone(detail) }));
    },
    errors: () => errors.slice(),
  };
})();
