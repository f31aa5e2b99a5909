// The file picker: the folders and mesh files under the studio's start folder, as the host lists
// them (it refuses any folder outside). A file is chosen by a double click, or selected and opened;
// a path can still be typed.

const $ = (id) => document.getElementById(id);

function sizeText(bytes) {
  if (bytes < 1024) return `${bytes} B`;
  if (bytes < 1024 * 1024) return `${(bytes / 1024).toFixed(0)} KB`;
  return `${(bytes / 1024 / 1024).toFixed(1)} MB`;
}

// Resolves with the path to open (relative to the start folder, or as typed), or null.
export function pickFile(api, showError) {
  return new Promise((resolve) => {
    const list = $('picker-list');
    const input = $('picker-path');
    let folder = '';
    const done = (v) => {
      $('picker').hidden = true;
      $('picker-form').onsubmit = null;
      $('picker-cancel').onclick = null;
      window.removeEventListener('keydown', onKey, true);
      resolve(v);
    };
    const onKey = (e) => { if (e.key === 'Escape') { e.stopPropagation(); done(null); } };
    const row = (label, detail, cls, onClick, onChoose) => {
      const li = document.createElement('li');
      li.className = cls;
      li.tabIndex = 0;
      const name = document.createElement('span');
      name.textContent = label;
      const more = document.createElement('span');
      more.className = 'detail';
      more.textContent = detail;
      li.append(name, more);
      li.addEventListener('click', () => {
        for (const x of list.querySelectorAll('.chosen')) x.classList.remove('chosen');
        li.classList.add('chosen');
        onClick();
      });
      li.addEventListener('dblclick', onChoose);
      list.append(li);
    };
    const browse = async (dir) => {
      const res = await api(`/api/files?dir=${encodeURIComponent(dir)}`);
      const answer = await res.json().catch(() => ({}));
      if (!res.ok) { showError(answer.error || `the folder cannot be listed (${res.status})`); return; }
      folder = answer.folder;
      $('picker-where').textContent = answer.root + (folder ? '/' + folder : '');
      $('picker-formats').textContent = `Opens ${answer.reads}; saves ${answer.writes}.`;
      list.textContent = '';
      if (answer.parent !== null) row('..', 'up one folder', 'folder', () => {}, () => browse(answer.parent));
      for (const e of answer.entries) {
        if (e.folder) row(e.name + '/', 'folder', 'folder', () => {}, () => browse(e.path));
        else row(e.name, `${e.format} · ${sizeText(e.size)}`, 'file', () => { input.value = e.path; }, () => done(e.path));
      }
      if (answer.cut) row('…', 'more entries than are listed', 'note', () => {}, () => {});
      if (!answer.entries.length) row('(no folders or mesh files here)', '', 'note', () => {}, () => {});
    };
    input.value = '';
    $('picker').hidden = false;
    $('picker-form').onsubmit = (e) => {
      e.preventDefault();
      const chosen = list.querySelector('.chosen.folder');
      if (chosen && !input.value.trim()) { chosen.dispatchEvent(new MouseEvent('dblclick')); return; }
      done(input.value.trim() || null);
    };
    $('picker-cancel').onclick = () => done(null);
    window.addEventListener('keydown', onKey, true);
    browse('');
  });
}
