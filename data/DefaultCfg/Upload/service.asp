<!DOCTYPE html>
<html>
<head>
<meta charset="utf-8">
<meta name="robots" content="noindex">
<title>Book</title>
</head>
<body>
<p id="msg"></p>
<script>
/* Opens a book of this folder at a page: service.asp?book=<job key>&page=<n> leads to
   <job key>/index.html#page=<n>. Only a 32-digit job key is accepted, so the address can
   never lead to another site or folder. The file holds no server code: any static web
   server and a file:// address serve it as it is. */
(function () {
  'use strict';
  var q = new URLSearchParams(location.search);
  var id = String(q.get('book') || '').trim().toUpperCase();
  var page = parseInt(q.get('page'), 10);
  if (!/^[0-9A-F]{32}$/.test(id)) {
    document.getElementById('msg').textContent = 'No such book.';
    return;
  }
  location.replace(id + '/index.html' + (page > 0 ? '#page=' + page : ''));
})();
</script>
</body>
</html>
