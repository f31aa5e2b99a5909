// What the page adds to the reduction dialog so that its actions say what they do: the preview is
// prepared by itself when the person types a target or an error limit or moves the dial; the buttons
// are named by what they do and explained; a Reduce without a preview asks first, saying what it does.
import * as ids from './ids.js';

const P = ids.VEXLOR_ID;
// The dial's rows, bottom to top: the step of the error limit per pixel dragged.
const DIAL_STEPS = '0.000001, 0.0001, 0.01, 1, 100 and 10000';

export function reductionExtras(ui) {
  const gadget = (id) => ui.gadgetState(P, id);
  // A preview is held while the prepare button is off.
  const held = () => { const p = gadget(ids.IDC_VEXLOR_PREPARE); return !p || !p.enabled; };
  let preparing = null;
  const prepare = async () => {
    if (held()) return;
    if (!preparing) {
      preparing = (async () => {
        const p = gadget(ids.IDC_VEXLOR_PREPARE);
        if (!p || !p.usable) return;
        if (!(await ui.call('/api/dialog', { plugin: P, gadget: ids.IDC_VEXLOR_PREPARE, action: 'press' }))) return;
        // The worker records the reduction (the status bar shows its progress): the change waits for it.
        for (const deadline = Date.now() + 600000; Date.now() < deadline;) {
          await ui.refresh();
          const s = ui.state();
          if (!s.busy && held()) return;
          await new Promise((r) => setTimeout(r, 150));
        }
      })().finally(() => { preparing = null; });
    }
    await preparing;
  };
  // The target in points, or as a share of the points or polygons the objects had before the preview
  // (the host reduces to a point count: a share of polygons is aimed at through the points, and the
  // field then shows the share of polygons the preview really has).
  let unit = 'points';
  let base = null;
  const collected = () => ui.state().objects.filter((o) => o.active && o.points !== undefined);
  const sum = (key) => collected().reduce((n, o) => n + o[key], 0);
  return {
    decorate(id, holder) {
      if (id !== ids.IDC_VEXLOR_TARGET) return;
      const select = document.createElement('select');
      select.className = 'target-unit';
      select.title = 'The target as a point count, or as a share of the points or the polygons before the reduction';
      for (const [value, text] of [['points', 'points'], ['pointsPct', '% of points'], ['polygonsPct', '% of polygons']]) {
        const o = document.createElement('option');
        o.value = value;
        o.textContent = text;
        select.append(o);
      }
      select.addEventListener('change', () => { unit = select.value; ui.render(); });
      holder.append(select);
    },
    shownValue(id, s) {
      if (id !== ids.IDC_VEXLOR_TARGET || s.percent) return undefined;
      if (!held()) base = { points: sum('points'), polygons: sum('polygons') };
      if (unit === 'points' || !base || !base.points || !base.polygons || s.number === undefined) return undefined;
      const share = unit === 'pointsPct' ? s.number / base.points : (held() ? sum('polygons') : base.polygons) / base.polygons;
      return +(share * 100).toFixed(1);
    },
    sentValue(id, typed, s) {
      if (s && s.percent) return typed / 100;
      if (id !== ids.IDC_VEXLOR_TARGET || unit === 'points' || !base || !base.points) return typed;
      return Math.max(1, Math.round((typed / 100) * base.points));
    },
    // Runs before a change of the gadget goes to the host.
    async beforeChange(id) {
      if (id === ids.IDC_VEXLOR_TARGET || id === ids.IDC_VEXLOR_ERROR || id === ids.IDC_VEXLOR_REGLER) await prepare();
    },
    // False when the press should not go to the host.
    async beforePress(id) {
      if (id !== ids.IDC_VEXLOR_START || held()) return true;
      const start = gadget(id);
      if (!start || start.label !== 'Reduce') return true;  // "Stop" stops at once
      const target = gadget(ids.IDC_VEXLOR_TARGET);
      return window.confirm('No preview is held: Apply reduces the objects as they are now to the target ' +
                            `(${target ? target.shown : '?'}) once more, as a new undo step. Go on?`);
    },
    // The label and the tooltip a gadget is shown with.
    label(id, text) {
      if (id === ids.IDC_VEXLOR_START && text === 'Reduce') return 'Apply';
      if (id === ids.IDC_VEXLOR_FINISH_LEVEL) return 'Rebuild quads';
      return text;
    },
    title(id) {
      switch (id) {
        case ids.IDC_VEXLOR_PREPARE:
          return 'Collect the objects and record their reduction (done by itself when you type a target or move the dial)';
        case ids.IDC_VEXLOR_START:
          return 'Apply: keep the level the preview shows, as one undo step (Stop while it runs)';
        case ids.IDC_VEXLOR_FINISH_LEVEL:
          return 'Rebuild the quads of the level the preview shows, for a look or to save it (Apply rebuilds them anyway)';
        case ids.IDC_VEXLOR_REGLER:
          return 'Error dial: drag a row sideways to move the error limit; a pixel moves it by ' +
                 `${DIAL_STEPS} from the bottom row to the top. The preview follows, and the target with it.`;
        case ids.IDC_VEXLOR_TARGET:
          return 'The points to keep (typing one prepares the preview)';
        case ids.IDC_VEXLOR_ERROR:
          return 'The largest error a contraction may add; the preview keeps every point it cannot remove within it';
        default:
          return '';
      }
    },
  };
}
