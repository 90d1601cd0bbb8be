// What the page remembers in localStorage, and the keys it is kept under.
// Storage can be unavailable or refuse a write: reads then answer undefined
// and writes are dropped, so a choice lasts for this page only.

export const storedKeys = {
  pinned: 'plumora-island-pinned',
  provider: 'plumora-provider',
  onboarding: 'plumora-onboarding-v2',
  signedIn: 'plumora-cloud-signed-in',
};

// The stored string; null when nothing is stored, undefined when storage cannot be read.
export function readStored(key) {
  try {
    return localStorage.getItem(key);
  } catch {
    return undefined;
  }
}

// Stores `value`, or forgets the key when `value` is null.
export function writeStored(key, value) {
  try {
    if (value === null) localStorage.removeItem(key);
    else localStorage.setItem(key, value);
  } catch {
    // Nothing to do: the state is simply not remembered.
  }
}
