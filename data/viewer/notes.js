// ----- Notes (kept per book and page in this browser) -----------------------------------

function noteKey() { return 'vellumark.notes.' + (book.id || location.pathname); }
function readNotes() {
  try { return JSON.parse(localStorage.getItem(noteKey()) || '{}') || {}; } catch (e) { return {}; }
}
// False when the browser refuses to keep the note (storage off or full).
function writeNote(page, value) {
  var notes = readNotes();
  if (value.trim()) notes[page] = value; else delete notes[page];
  try {
    if (Object.keys(notes).length) localStorage.setItem(noteKey(), JSON.stringify(notes));
    else localStorage.removeItem(noteKey());
  } catch (e) { return false; }
  markNotes();
  return true;
}

function showNotes() {
  var box = $('vm-note-pages');
  if (!box) return;
  var notes = readNotes();
  box.textContent = '';
  visiblePages().forEach(function (n) {
    var id = 'vm-note-' + n;
    var label = doc.createElement('label');
    label.htmlFor = id;
    label.textContent = text('page', 'Page') + ' ' + n;
    var area = doc.createElement('textarea');
    area.id = id;
    area.rows = 5;
    area.dataset.page = n;
    area.value = notes[n] || '';
    area.addEventListener('input', function () {
      // A note the browser cannot keep is said so at once, not lost in silence.
      var kept = writeNote(n, area.value);
      area.setAttribute('aria-invalid', String(!kept));
      $('vm-note-status').textContent = kept ? '' : text('noteFail', 'This browser does not keep notes.');
    });
    box.appendChild(label);
    box.appendChild(area);
  });
}

function markNotes() {
  var btn = $('vm-note-btn');
  if (!btn) return;
  var notes = readNotes();
  btn.classList.toggle('vm-has-note', visiblePages().some(function (n) { return !!notes[n]; }));
}
