// ----- Phones: one toolbar row with a menu, the toolbar out of the way while reading ---

// Commands a phone reader uses less often; on a narrow screen they move into the menu.
var MENU_ITEMS = ['vm-first', 'vm-last', 'vm-contents-btn', 'vm-thumbs-btn', 'vm-zoom-btn', 'vm-print-btn',
  'vm-full-btn', 'vm-note-btn', 'vm-share-btn', 'vm-email', 'vm-download'];
var phoneQuery = null, menuPlaces = [];

function isPhone() { return !!(phoneQuery && phoneQuery.matches); }

function setupPhone() {
  if (!window.matchMedia) return;
  phoneQuery = window.matchMedia('(max-width: 640px)');
  var label = text('menu', 'More');
  var btn = panelButton('vm-menu-btn', label, 'vm-menu', 'M4 6h16M4 12h16M4 18h16');
  var menu = doc.createElement('div');
  menu.id = 'vm-menu';
  menu.className = 'vm-menu';
  menu.hidden = true;
  doc.querySelector('.vm-tools').appendChild(btn);
  $('vm-bar').appendChild(menu);
  btn.addEventListener('click', function () { setMenu(menu.hidden); });
  // A command chosen in the menu closes it.
  menu.addEventListener('click', function (e) { if (e.target.closest('button, a')) setMenu(false); });
  var apply = function () { placeMenuItems(isPhone()); };
  if (phoneQuery.addEventListener) phoneQuery.addEventListener('change', apply);
  apply();
}

function setMenu(open) {
  var menu = $('vm-menu');
  if (!menu || menu.hidden === !open) return;
  menu.hidden = !open;
  $('vm-menu-btn').setAttribute('aria-expanded', String(open));
  if (open) {
    showBar(true);
    var first = menu.querySelector('button:not([hidden]), a');
    if (first) first.focus();
  } else if (menu.contains(doc.activeElement)) $('vm-menu-btn').focus();
}

// Moves the less used commands into the menu (phone) or back where the page put them.
function placeMenuItems(phone) {
  app.classList.toggle('vm-phone', phone);
  $('vm-menu-btn').hidden = !phone;
  if (!phone) setMenu(false);
  if (phone && !menuPlaces.length) {
    MENU_ITEMS.forEach(function (id) {
      var el = $(id);
      if (!el) return;
      var mark = doc.createComment(id);
      el.parentNode.insertBefore(mark, el);
      menuPlaces.push({ el: el, mark: mark });
      $('vm-menu').appendChild(el);
    });
  } else if (!phone && menuPlaces.length) {
    menuPlaces.forEach(function (p) { p.mark.parentNode.insertBefore(p.el, p.mark); p.mark.remove(); });
    menuPlaces = [];
  }
  if (!phone) showBar(true);
}

function showBar(on) {
  app.classList.toggle('vm-bar-off', !on);
  $('vm-bar').inert = !on;
}

// After a turn on a phone the toolbar steps aside, unless the reader is using it.
function hideBarWhileReading() {
  if (!isPhone() || !state.shown) return;
  if ($('vm-bar').contains(doc.activeElement)) return;
  if (Object.keys(panels).some(function (id) { return $(id) && !$(id).hidden; })) return;
  showBar(false);
}
