// The thin wrapper over the bridge the program injects as window.plumora.
// Outside the program (a plain browser) there is no bridge: every call then
// rejects with one clear message instead of throwing at the call site.

const bridgeMissing = '桥接不可用';

const bridge = window.plumora;

const hasBridge = bridge !== undefined;

// A proxy so call sites read native.apiStatus() whether or not the bridge exists.
export const native = new Proxy(
  {},
  {
    get(_, name) {
      const member = bridge?.[name];
      if (typeof member === 'function') return member.bind(bridge);
      if (member !== undefined || hasBridge) return member;
      return () => Promise.reject(new Error(bridgeMissing));
    },
  },
);

// Subscribes to a native event ("plumora:…"); returns the unsubscribe function.
// The handler receives the CustomEvent's detail (undefined for a plain Event).
export function onNative(name, handler) {
  const listener = (event) => handler(event.detail);
  window.addEventListener(name, listener);
  return () => window.removeEventListener(name, listener);
}

// The message of a rejected bridge call, shown to the user as it comes.
export function messageOf(error) {
  return error instanceof Error ? error.message : String(error);
}
