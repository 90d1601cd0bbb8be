import { test } from 'node:test';
import assert from 'node:assert/strict';
import { formatBytes, formatDate } from '../../../web/js/format.js';

test('byte counts read in human units', () => {
  const rows = [
    [0, '0 B'],
    [1023, '1023 B'],
    [1024, '1 KB'],
    [1536, '1.5 KB'],
    [10 * 1024 - 1, '10 KB'],
    [1024 * 1024 - 1, '1 MB'],
    [3.25 * 1024 ** 3, '3.3 GB'],
  ];
  for (const [bytes, text] of rows) assert.equal(formatBytes(bytes), text, `formatBytes(${bytes})`);
});

test('dates are short and relative to now, in local time', () => {
  const now = new Date(2026, 2, 10, 15, 0);
  const local = (...parts) => new Date(...parts).toISOString();
  const rows = [
    [local(2026, 2, 10, 9, 5), '今天 09:05'],
    [local(2026, 2, 9, 23, 59), '昨天 23:59'],
    [local(2026, 0, 2, 8, 0), '1月2日 08:00'],
    [local(2025, 11, 31, 8, 0), '2025年12月31日'],
    ['not a date', ''],
  ];
  for (const [iso, text] of rows) assert.equal(formatDate(iso, now), text, `formatDate(${iso})`);
});

