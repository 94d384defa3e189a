#pragma once

// The modal results of the entry dialog. mrAbort: nothing was saved because the entry had been
// changed or removed by another program, so the list is to be read again.
enum ModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3 };
