#include "record/pdf_data.h"

pdfData_s g_data;
