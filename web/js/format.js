// Small pure formatters shared by the library, detail and settings views.
// No DOM and no bridge here, so node's test runner can load this module.

const byteUnits = ['B', 'KB', 'MB', 'GB', 'TB'];

// A byte count in human units (binary steps, one decimal below 10 and
// whole numbers above, so a tile's caption stays short): 0 B, 812 B, 1.5 KB, 24 MB.
export function formatBytes(bytes) {
  const value = Number(bytes);
  if (!Number.isFinite(value) || value <= 0) return '0 B';
  let size = value;
  let unit = 0;
  while (size >= 1024 && unit < byteUnits.length - 1) {
    size /= 1024;
    unit += 1;
  }
  if (unit === 0) return `${Math.round(size)} B`;
  // Rounding can carry a value like 1023.96 KB up to "1024 KB"; show the next unit instead.
  if (Math.round(size) >= 1024 && unit < byteUnits.length - 1) {
    size /= 1024;
    unit += 1;
  }
  const text = size < 10 ? size.toFixed(1).replace(/\.0$/, '') : String(Math.round(size));
  return `${text} ${byteUnits[unit]}`;
}

const pad = (n) => String(n).padStart(2, '0');

// A work's creation time, short and local: "今天 16:05", "昨天 09:12",
// "3月2日 10:00" within the current year, else "2025年12月31日".
// An unparsable or missing time gives "".
export function formatDate(iso, now = new Date()) {
  if (typeof iso !== 'string' || iso === '') return '';
  const date = new Date(iso);
  if (Number.isNaN(date.getTime())) return '';
  const time = `${pad(date.getHours())}:${pad(date.getMinutes())}`;
  const startOfDay = (d) => new Date(d.getFullYear(), d.getMonth(), d.getDate()).getTime();
  const days = Math.round((startOfDay(now) - startOfDay(date)) / 86400000);
  if (days === 0) return `今天 ${time}`;
  if (days === 1) return `昨天 ${time}`;
  if (date.getFullYear() === now.getFullYear()) {
    return `${date.getMonth() + 1}月${date.getDate()}日 ${time}`;
  }
  return `${date.getFullYear()}年${date.getMonth() + 1}月${date.getDate()}日`;
}

const segmenter =
  typeof Intl !== 'undefined' && Intl.Segmenter ? new Intl.Segmenter('zh', { granularity: 'grapheme' }) : null;

// User-perceived characters, the unit the native side counts names and prompts in.
export function graphemeCount(text) {
  if (!segmenter) return Array.from(text).length;
  let count = 0;
  for (const _ of segmenter.segment(text)) count += 1;
  return count;
}

// The first `limit` user-perceived characters of `text`.
export function firstCharacters(text, limit) {
  if (text.length <= limit) return text;
  if (!segmenter) return Array.from(text).slice(0, limit).join('');
  let out = '';
  let count = 0;
  for (const { segment } of segmenter.segment(text)) {
    if (count === limit) break;
    out += segment;
    count += 1;
  }
  return out;
}

// Length of a text in UTF-8 bytes (the native side limits model names and keys in bytes).
export function utf8Length(text) {
  return new TextEncoder().encode(text).length;
}

const htmlEntities = { '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' };

// Text made safe to place in markup, as element text or a quoted attribute value.
export function escapeHTML(text) {
  return String(text).replace(/[&<>"']/g, (c) => htmlEntities[c]);
}
