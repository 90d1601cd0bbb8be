// The page's element builder. Props: `text` sets the text, `test` the
// data-test hook, `role` and `aria…` (camel case, e.g. ariaLabel) set
// attributes; anything else is assigned as a property.
export function el(tag, props = {}, children = []) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(props)) {
    if (key === 'text') node.textContent = value;
    else if (key === 'test') node.dataset.test = value;
    else if (key === 'role') node.setAttribute('role', value);
    else if (key.startsWith('aria')) node.setAttribute(`aria-${key.slice(4).toLowerCase()}`, value);
    else node[key] = value;
  }
  node.append(...children);
  return node;
}

// A text button of the views; `primary` marks the main action of its group.
export function viewButton(label, test, primary = false) {
  return el('button', { type: 'button', className: primary ? 'view-button is-primary' : 'view-button', test, text: label });
}
