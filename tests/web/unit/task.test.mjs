import assert from 'node:assert/strict';
import { test } from 'node:test';

import { createTaskReporter, noticeFor } from '../../../web/js/task.js';

test('a task is reported working once, and its end exactly once', async () => {
  const posted = [];
  let elsewhere = false;
  const reporter = createTaskReporter({ taskState: async (value) => posted.push(value) && true }, () => elsewhere);
  const first = reporter.start();
  assert.match(first, /^[0-9a-f-]{36}$/);
  elsewhere = true;
  assert.equal(await reporter.finish('not-this-task', 'done'), false);
  await reporter.finish(first, 'done');
  assert.equal(await reporter.finish(first, 'error'), false);
  const second = reporter.start();
  await reporter.abandon(second);
  assert.notEqual(second, first);
  assert.deepEqual(posted, [
    { state: 'working', taskId: first, sound: false, present: false },
    { state: 'done', taskId: first, sound: true, present: true },
    { state: 'working', taskId: second, sound: false, present: true },
    { state: 'idle', sound: false, present: false },
  ]);
  assert.equal(reporter.current, null);
});

test('a finished task leads to the result, a failed one to creation', () => {
  assert.deepEqual(noticeFor({ state: 'done', text: '' }), { text: '新作品已就绪', target: 'result' });
  assert.deepEqual(noticeFor({ state: 'error', text: '本机生成已取消。' }), {
    text: '生成失败：本机生成已取消。',
    target: 'creation',
  });
});
