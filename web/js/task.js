// Reports the page's one running task to the native side (taskState), which
// spins the status icon, marks the end, rings the chime and may show the
// compact notice. Each task has its own UUID; an end is reported once.

// The taskState value. `present` asks for the compact notice because the user
// is not looking at the panel.
export function taskStateValue(state, taskId, { sound = false, present = false } = {}) {
  const value = { state, sound, present };
  if (taskId) value.taskId = taskId;
  return value;
}

// `isElsewhere()` answers whether the user is away from the panel right now.
export function createTaskReporter(native, isElsewhere) {
  let current = null;

  function report(state, taskId, options) {
    return Promise.resolve(native.taskState(taskStateValue(state, taskId, options))).catch(() => false);
  }

  return {
    get current() {
      return current;
    },
    // Starts a new task and reports it working; returns its id.
    start() {
      current = crypto.randomUUID();
      report('working', current, { present: isElsewhere() });
      return current;
    },
    // Ends `taskId` with "done" (a finished work, with the chime) or "error".
    // `present` overrides whether the user counts as elsewhere.
    finish(taskId, state, { present = isElsewhere() } = {}) {
      if (taskId !== current) return Promise.resolve(false);
      current = null;
      return report(state, taskId, { sound: state === 'done', present });
    },
    // A task the user cancelled: the icon goes back to rest, nothing is announced.
    abandon(taskId) {
      if (taskId !== current) return Promise.resolve(false);
      current = null;
      return report('idle');
    },
  };
}

// The one-line compact notice for the latest task activity
// ({ state: 'working' | 'done' | 'error' | 'idle', text }), and the surface
// a click on it opens.
export function noticeFor(activity) {
  switch (activity.state) {
    case 'done':
      return { text: activity.text || '新作品已就绪', target: 'result' };
    case 'error':
      return { text: `生成失败：${activity.text}`, target: 'creation' };
    case 'working':
      return { text: activity.text || '正在生成图片…', target: 'creation' };
    default:
      return { text: '选中文字或图片，开始创作', target: 'creation' };
  }
}
