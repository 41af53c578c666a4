// ----- Contents (the document outline) -------------------------------------------------

function buildContents() {
  var L = book.layout;
  var entries = L && Array.isArray(L.outline) ? L.outline.filter(function (e) { return e && typeof e.title === 'string'; }) : [];
  if (!entries.length) return;
  var label = text('contents', 'Contents');
  var btn = panelButton('vm-contents-btn', label, 'vm-contents', 'M4 6h2M9 6h11M4 12h2M9 12h11M4 18h2M9 18h11');
  var thumbsBtn = $('vm-thumbs-btn');
  thumbsBtn.parentNode.insertBefore(btn, thumbsBtn);
  if (isPhone()) { placeMenuItems(false); placeMenuItems(true); }

  var panel = doc.createElement('aside');
  panel.id = 'vm-contents';
  panel.className = 'vm-panel';
  panel.hidden = true;
  panel.setAttribute('aria-labelledby', 'vm-contents-h');
  var head = doc.createElement('div');
  head.className = 'vm-panel-head';
  var h2 = doc.createElement('h2');
  h2.id = 'vm-contents-h';
  h2.textContent = label;
  var close = doc.createElement('button');
  close.type = 'button';
  close.className = 'vm-btn vm-close';
  close.setAttribute('aria-label', text('close', 'Close'));
  close.title = text('close', 'Close');
  close.innerHTML = '<svg aria-hidden="true"><use href="#vm-i-close"/></svg>';
  close.addEventListener('click', function () { setPanel('vm-contents', false); });
  head.appendChild(h2);
  head.appendChild(close);
  var nav = doc.createElement('nav');
  nav.setAttribute('aria-labelledby', 'vm-contents-h');
  // Nested lists follow the outline's levels, so a screen reader announces the depth.
  var root = doc.createElement('ul'), stack = [root], lastItem = null;
  root.className = 'vm-toc';
  entries.forEach(function (e) {
    var level = Math.max(1, Math.min(32, e.level | 0));
    while (stack.length < level && lastItem) {
      var sub = doc.createElement('ul');
      lastItem.appendChild(sub);
      stack.push(sub);
    }
    while (stack.length > level) stack.pop();
    var li = doc.createElement('li'), item;
    var target = e.page | 0;
    if (target >= 1 && target <= book.pages) {
      item = doc.createElement('a');
      item.href = '#page=' + target;
      item.dataset.page = target;
    } else item = doc.createElement('span');
    item.className = 'vm-toc-entry';
    item.textContent = e.title;
    li.appendChild(item);
    stack[stack.length - 1].appendChild(li);
    lastItem = li;
  });
  nav.appendChild(root);
  nav.addEventListener('click', function (ev) {
    var a = ev.target.closest('a[data-page]');
    if (!a) return;
    ev.preventDefault();
    setPanel('vm-contents', false);
    goTo(+a.dataset.page);
    $('vm-stage').focus({ preventScroll: true });
  });
  panel.appendChild(head);
  panel.appendChild(nav);
  $('vm-thumbs').parentNode.insertBefore(panel, $('vm-thumbs'));
  panels['vm-contents'] = 'vm-contents-btn';
  btn.addEventListener('click', function () { togglePanel('vm-contents'); });
  updateContentsCurrent();
}

// The entry of the section being read is marked for sighted and screen-reader users.
function updateContentsCurrent() {
  var links = doc.querySelectorAll('#vm-contents a[data-page]');
  if (!links.length) return;
  var best = null;
  for (var i = 0; i < links.length; i++) {
    links[i].removeAttribute('aria-current');
    if (+links[i].dataset.page <= state.page) best = links[i];
  }
  if (best) best.setAttribute('aria-current', 'location');
}
