<svg class="vm-icons" aria-hidden="true" focusable="false">
  <symbol id="vm-i-first" viewBox="0 0 24 24"><path d="M6 5v14M18 5l-8 7 8 7"/></symbol>
  <symbol id="vm-i-prev" viewBox="0 0 24 24"><path d="M15 5l-7 7 7 7"/></symbol>
  <symbol id="vm-i-next" viewBox="0 0 24 24"><path d="M9 5l7 7-7 7"/></symbol>
  <symbol id="vm-i-last" viewBox="0 0 24 24"><path d="M18 5v14M6 5l8 7-8 7"/></symbol>
  <symbol id="vm-i-thumbs" viewBox="0 0 24 24"><path d="M4 4h6v6H4zM14 4h6v6h-6zM4 14h6v6H4zM14 14h6v6h-6z"/></symbol>
  <symbol id="vm-i-search" viewBox="0 0 24 24"><circle cx="10.5" cy="10.5" r="6"/><path d="M15 15l5.5 5.5"/></symbol>
  <symbol id="vm-i-zoom" viewBox="0 0 24 24"><circle cx="10.5" cy="10.5" r="6"/><path d="M15 15l5.5 5.5M10.5 7.5v6M7.5 10.5h6"/></symbol>
  <symbol id="vm-i-print" viewBox="0 0 24 24"><path d="M7 9V3h10v6M7 17H4v-8h16v8h-3M7 14h10v7H7z"/></symbol>
  <symbol id="vm-i-full" viewBox="0 0 24 24"><path d="M4 9V4h5M15 4h5v5M20 15v5h-5M9 20H4v-5"/></symbol>
  <symbol id="vm-i-mail" viewBox="0 0 24 24"><path d="M3 6h18v12H3zM3 6l9 7 9-7"/></symbol>
  <symbol id="vm-i-note" viewBox="0 0 24 24"><path d="M5 3h10l4 4v14H5zM15 3v4h4M8 12h8M8 16h6"/></symbol>
  <symbol id="vm-i-share" viewBox="0 0 24 24"><circle cx="18" cy="5" r="2.5"/><circle cx="6" cy="12" r="2.5"/><circle cx="18" cy="19" r="2.5"/><path d="M8.2 10.8l7.6-4.5M8.2 13.2l7.6 4.5"/></symbol>
  <symbol id="vm-i-download" viewBox="0 0 24 24"><path d="M12 3v12M7 10l5 5 5-5M4 20h16"/></symbol>
  <symbol id="vm-i-close" viewBox="0 0 24 24"><path d="M6 6l12 12M18 6L6 18"/></symbol>
</svg>
<header id="vm-bar" class="vm-bar" style="--vm-bar-max:<%=toolbar_width%>px">
  <a id="vm-home" class="vm-home" href="<%=home_link%>" title="<%=g_HOME%>"><%=home_content%><span class="vm-home-label"><%=g_HOME%></span></a>
  <h1 id="vm-heading" class="vm-heading"><%=strTitle%></h1>
  <nav class="vm-tools" aria-label="<%=g_TOOLBAR%>">
    <div class="vm-group">
      <button type="button" id="vm-first" class="vm-btn" aria-label="<%=g_FIRST%>" title="<%=g_FIRST%>"><svg aria-hidden="true"><use href="#vm-i-first"/></svg></button>
      <button type="button" id="vm-prev" class="vm-btn" aria-label="<%=g_PREV%>" title="<%=g_PREV%>"><svg aria-hidden="true"><use href="#vm-i-prev"/></svg></button>
      <span class="vm-pagebox">
        <label for="vm-pagenum" class="vm-sr"><%=g_PAGENUM%></label>
        <input id="vm-pagenum" type="text" inputmode="numeric" autocomplete="off" size="5" title="<%=g_PAGENUM%>">
        <span id="vm-pagetotal" class="vm-pagetotal"></span>
      </span>
      <button type="button" id="vm-next" class="vm-btn" aria-label="<%=g_NEXT%>" title="<%=g_NEXT%>"><svg aria-hidden="true"><use href="#vm-i-next"/></svg></button>
      <button type="button" id="vm-last" class="vm-btn" aria-label="<%=g_LAST%>" title="<%=g_LAST%>"><svg aria-hidden="true"><use href="#vm-i-last"/></svg></button>
    </div>
    <div class="vm-group">
      <button type="button" id="vm-thumbs-btn" class="vm-btn" aria-label="<%=g_THUMBS%>" title="<%=g_THUMBS%>" aria-expanded="false" aria-controls="vm-thumbs"><svg aria-hidden="true"><use href="#vm-i-thumbs"/></svg></button>
      <button type="button" id="vm-search-btn" class="vm-btn" aria-label="<%=g_SEARCH%>" title="<%=g_SEARCH%>" aria-expanded="false" aria-controls="vm-search"><svg aria-hidden="true"><use href="#vm-i-search"/></svg></button>
      <button type="button" id="vm-zoom-btn" class="vm-btn" aria-label="<%=g_ZOOM%>" title="<%=g_ZOOM%>" aria-pressed="false"><svg aria-hidden="true"><use href="#vm-i-zoom"/></svg></button>
      <button type="button" id="vm-print-btn" class="vm-btn" aria-label="<%=g_PRINT%>" title="<%=g_PRINT%>" aria-expanded="false" aria-controls="vm-print"><svg aria-hidden="true"><use href="#vm-i-print"/></svg></button>
      <button type="button" id="vm-full-btn" class="vm-btn" aria-label="<%=g_FULL%>" title="<%=g_FULL%>" aria-pressed="false"><svg aria-hidden="true"><use href="#vm-i-full"/></svg></button>
      <%=note_button%>
      <button type="button" id="vm-share-btn" class="vm-btn" aria-label="<%=g_SHARE%>" title="<%=g_SHARE%>"><svg aria-hidden="true"><use href="#vm-i-share"/></svg></button>
      <%=email_button%>
      <a id="vm-download" class="vm-btn" download><svg aria-hidden="true"><use href="#vm-i-download"/></svg></a>
    </div>
  </nav>
  <p id="vm-share-note" class="vm-share-note" role="status" hidden></p>
</header>
